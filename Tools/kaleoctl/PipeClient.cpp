// The writer's end of a data pipe; see PipeClient.h.
#include "PipeClient.h"

#include "Console.h"
#include "PipeIo.h"

using namespace Common;

namespace PipeCmd
{
namespace
{

// Pause between two tries while the name is missing: the reader creates
// its next instance right after the last client left.
constexpr DWORD kRetryMs = 10;

DWORD WINAPI FlushThread(void* pipe)
{
    return ::FlushFileBuffers(static_cast<HANDLE>(pipe)) ? ERROR_SUCCESS : ::GetLastError();
}

// FlushFileBuffers on a pipe returns once the reader has read everything,
// which may be never; it runs on a thread of its own and is cancelled when
// the time is up.
DWORD FlushWithin(HANDLE pipe, DWORD timeoutMs)
{
    CHandle thread(::CreateThread(nullptr, 0, FlushThread, pipe, 0, nullptr));
    if (!thread)
        return ::GetLastError();
    if (::WaitForSingleObject(thread.Get(), timeoutMs) != WAIT_OBJECT_0)
    {
        ::CancelSynchronousIo(thread.Get());
        // The cancel is honoured at once where it works at all; if it is
        // not, the thread stays blocked until the process exits.
        ::WaitForSingleObject(thread.Get(), 1000);
        return ERROR_TIMEOUT;
    }
    DWORD status = ERROR_SUCCESS;
    if (!::GetExitCodeThread(thread.Get(), &status))
        return ::GetLastError();
    return status;
}

} // namespace

DWORD CPipeClient::Connect(const std::wstring& name, DWORD waitMs)
{
    m_pipe.Reset();
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;)
    {
        // Overlapped, so that every write can be bounded in time.
        m_pipe.Reset(::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                   nullptr));
        if (m_pipe)
            return ERROR_SUCCESS;
        const DWORD error = ::GetLastError();
        if (error != ERROR_PIPE_BUSY && error != ERROR_FILE_NOT_FOUND)
            return error;
        const DWORD left = RemainingMs(deadline);
        if (left == 0)
            return error;
        if (error == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), left); // wakes when an instance is free
        else
            ::Sleep(left < kRetryMs ? left : kRetryMs);
    }
}

DWORD CPipeClient::Write(const std::string& message)
{
    if (!m_pipe)
        return ERROR_INVALID_HANDLE;
    if (message.size() > MAXDWORD)
        return ERROR_INVALID_PARAMETER;
    return WritePipeMessage(m_pipe.Get(), message.data(), static_cast<DWORD>(message.size()), READER_TIMEOUT_MS,
                            nullptr);
}

DWORD CPipeClient::Close()
{
    if (!m_pipe)
        return ERROR_SUCCESS;
    const DWORD status = FlushWithin(m_pipe.Get(), READER_TIMEOUT_MS);
    m_pipe.Reset();
    return status;
}

std::wstring DescribePipeError(DWORD error)
{
    const wchar_t* what = nullptr;
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
        what = L"no pipe of that name";
        break;
    case ERROR_PIPE_BUSY:
        what = L"every instance of the pipe is busy";
        break;
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
        what = L"the reader closed the pipe";
        break;
    case ERROR_TIMEOUT:
        return Console::Format(L"the reader took nothing within %lu ms (error %lu)", READER_TIMEOUT_MS, error);
    case ERROR_ACCESS_DENIED:
        what = L"access denied";
        break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        what = L"not a valid pipe name";
        break;
    default:
        what = L"failed";
        break;
    }
    return Console::Format(L"%s (error %lu)", what, error);
}

} // namespace PipeCmd
