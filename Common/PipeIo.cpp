// Overlapped pipe I/O with a time limit; see PipeIo.h.
#include "PipeIo.h"

#include "Handles.h"

namespace Common
{
namespace
{

// Completes an overlapped operation that was started with result ok. On time-
// out or abort the operation is cancelled, and waited for in any case: the
// OVERLAPPED lives on the caller's stack and must outlive the I/O.
DWORD FinishOverlapped(HANDLE h, OVERLAPPED& ov, BOOL ok, DWORD timeoutMs, HANDLE abortEvent,
                       DWORD& bytes)
{
    bytes = 0;
    if (ok)
    {
        ::GetOverlappedResult(h, &ov, &bytes, FALSE);
        return ERROR_SUCCESS;
    }
    DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING)
    {
        if (error == ERROR_MORE_DATA)
            ::GetOverlappedResult(h, &ov, &bytes, FALSE);
        return error;
    }
    HANDLE waits[2] = {ov.hEvent, abortEvent};
    const DWORD wait = ::WaitForMultipleObjects(abortEvent ? 2 : 1, waits, FALSE, timeoutMs);
    if (wait != WAIT_OBJECT_0)
        ::CancelIoEx(h, &ov);
    if (::GetOverlappedResult(h, &ov, &bytes, TRUE))
        return ERROR_SUCCESS;  // finished before the cancel took effect
    error = ::GetLastError();
    if (error == ERROR_OPERATION_ABORTED && wait == WAIT_TIMEOUT)
        return ERROR_TIMEOUT;
    return error;
}

CHandle NewIoEvent()
{
    return CHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

} // namespace

DWORD RemainingMs(ULONGLONG deadline)
{
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline)
        return 0;
    const ULONGLONG left = deadline - now;
    return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}

DWORD ReadPipeMessage(HANDLE pipe, void* buffer, DWORD size, DWORD& bytes, DWORD timeoutMs,
                      HANDLE abortEvent)
{
    bytes = 0;
    CHandle event = NewIoEvent();
    if (!event)
        return ::GetLastError();
    return ReadPipeMessage(pipe, buffer, size, bytes, timeoutMs, abortEvent, event.Get());
}

DWORD ReadPipeMessage(HANDLE pipe, void* buffer, DWORD size, DWORD& bytes, DWORD timeoutMs,
                      HANDLE abortEvent, HANDLE ioEvent)
{
    bytes = 0;
    OVERLAPPED ov = {};  // ReadFile resets the event itself
    ov.hEvent = ioEvent;
    const BOOL ok = ::ReadFile(pipe, buffer, size, nullptr, &ov);
    return FinishOverlapped(pipe, ov, ok, timeoutMs, abortEvent, bytes);
}

DWORD WritePipeMessage(HANDLE pipe, const void* data, DWORD size, DWORD timeoutMs,
                       HANDLE abortEvent)
{
    CHandle event = NewIoEvent();
    if (!event)
        return ::GetLastError();
    OVERLAPPED ov = {};
    ov.hEvent = event.Get();
    const BOOL ok = ::WriteFile(pipe, data, size, nullptr, &ov);
    DWORD written = 0;
    const DWORD status = FinishOverlapped(pipe, ov, ok, timeoutMs, abortEvent, written);
    if (status == ERROR_SUCCESS && written != size)
        return ERROR_WRITE_FAULT;
    return status;
}

DWORD ConnectPipeClient(HANDLE pipe, HANDLE abortEvent, DWORD* callError)
{
    if (callError)
        *callError = ERROR_IO_PENDING;
    CHandle event = NewIoEvent();
    if (!event)
        return ::GetLastError();
    OVERLAPPED ov = {};
    ov.hEvent = event.Get();
    const BOOL ok = ::ConnectNamedPipe(pipe, &ov);
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (callError)
        *callError = error;
    if (error == ERROR_PIPE_CONNECTED)
        return ERROR_SUCCESS;  // the client came before the call
    ::SetLastError(error);
    DWORD bytes = 0;
    return FinishOverlapped(pipe, ov, ok, INFINITE, abortEvent, bytes);
}

void WaitForClientClose(HANDLE pipe, DWORD timeoutMs, HANDLE abortEvent)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    BYTE scratch[512];
    for (;;)
    {
        const DWORD left = RemainingMs(deadline);
        if (left == 0)
            return;
        DWORD bytes = 0;
        const DWORD status = ReadPipeMessage(pipe, scratch, sizeof(scratch), bytes, left, abortEvent);
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            return;  // closed (ERROR_BROKEN_PIPE), timed out or aborted
    }
}

} // namespace Common
