// The client side of the control pipe: one message per connection.
#include "AppClient.h"

#include "RequestChannel.h"

using namespace Common;
using namespace AppRequests;

namespace AppClient
{
namespace
{
// Connects to a free instance. The module serves one client at a time: a
// busy pipe is waited for. The name is absent only while the module is not
// running (a restart of its host, say), so that is tried again for a while.
DWORD OpenPipe(DWORD timeoutMs, CHandle& pipe)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    ULONGLONG absentSince = 0;
    for (;;)
    {
        pipe.Reset(::CreateFileW(CONTROL_PIPE_NAME, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe)
            return ERROR_SUCCESS;
        const DWORD error = ::GetLastError();
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return error == ERROR_PIPE_BUSY ? ERROR_TIMEOUT : error;
        if (error == ERROR_PIPE_BUSY)
        {
            absentSince = 0;
            const ULONGLONG left = deadline - now;
            ::WaitNamedPipeW(CONTROL_PIPE_NAME, left < 1000 ? static_cast<DWORD>(left) : 1000);
            continue;
        }
        if (error != ERROR_FILE_NOT_FOUND)
            return error;
        if (absentSince == 0)
            absentSince = now;
        else if (now - absentSince >= kPipeAbsentMs)
            return error;
        ::Sleep(5);
    }
}
} // namespace

DWORD SendPipeMessage(const void* data, DWORD size, DWORD timeoutMs)
{
    CHandle pipe;
    const DWORD opened = OpenPipe(timeoutMs, pipe);
    if (opened != ERROR_SUCCESS)
        return opened;
    DWORD written = 0;
    if (!::WriteFile(pipe.Get(), data, size, &written, nullptr))
        return ::GetLastError();
    if (written != size)
        return ERROR_WRITE_FAULT;
    // Returns once the module has read the message: the pipe has no answer,
    // and a caller that goes on may rely on the block having arrived.
    ::FlushFileBuffers(pipe.Get());
    return ERROR_SUCCESS;
}

DWORD SendPipeBlock(const _REGISTERDATATYPE& block, DWORD timeoutMs)
{
    return SendPipeMessage(&block, sizeof(block), timeoutMs);
}

} // namespace AppClient
