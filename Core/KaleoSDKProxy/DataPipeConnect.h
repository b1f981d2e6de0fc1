#pragma once
// A device reader's wait for the device side on one instance of its data
// pipe, with the lines the reader writes about it to the device's log.
#include <windows.h>

// Waits for a client on `instance` (opened for overlapped I/O) until
// shutdownEvent is set. 0 when a client is connected; ERROR_NO_DATA for one
// that wrote and left before the wait began (its messages are still in the
// instance); ERROR_OPERATION_ABORTED on shutdown; else the connect error.
// A connect call that neither waits nor finds a client already there is
// logged to logFile ("Debug_<handle>.log").
DWORD ConnectDataPipeClient(HANDLE instance, HANDLE shutdownEvent, const wchar_t* logFile) noexcept;
