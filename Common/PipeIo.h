#pragma once
// Overlapped pipe I/O with a time limit, for servers and clients of the
// product's pipes: a peer that stops reading or writing must never block the
// other side, and a server's stop event ends any wait at once.
// The handles passed in must have been opened with FILE_FLAG_OVERLAPPED.
#include <windows.h>

namespace Common
{

// Reads one message into buffer. ERROR_MORE_DATA when the message is larger
// (bytes then holds what was read; the rest is still waiting), ERROR_TIMEOUT
// after timeoutMs, ERROR_OPERATION_ABORTED when abortEvent (may be null) is set.
DWORD ReadPipeMessage(HANDLE pipe, void* buffer, DWORD size, DWORD& bytes, DWORD timeoutMs,
                      HANDLE abortEvent);
// The same with the caller's manual-reset event for the I/O, for readers
// that serve many messages and should not create an event per read.
DWORD ReadPipeMessage(HANDLE pipe, void* buffer, DWORD size, DWORD& bytes, DWORD timeoutMs,
                      HANDLE abortEvent, HANDLE ioEvent);

// Writes one message, with the same time limit and abort rules.
DWORD WritePipeMessage(HANDLE pipe, const void* data, DWORD size, DWORD timeoutMs,
                       HANDLE abortEvent);

// Server side: waits without time limit for a client, until abortEvent is set.
// When given, callError receives what the connect call itself answered:
// ERROR_SUCCESS when it returned success, else its error (ERROR_IO_PENDING
// when it began to wait, as well as when no call could be made).
DWORD ConnectPipeClient(HANDLE pipe, HANDLE abortEvent, DWORD* callError = nullptr);

// Server side: waits until the client has closed its end (so that a reply
// it has not read yet is not discarded by DisconnectNamedPipe), at most
// timeoutMs. Any further message of the client is read and dropped.
void WaitForClientClose(HANDLE pipe, DWORD timeoutMs, HANDLE abortEvent);

// Milliseconds left until deadline (a GetTickCount64 value), 0 when passed.
DWORD RemainingMs(ULONGLONG deadline);

} // namespace Common
