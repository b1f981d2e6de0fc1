#pragma once
// Client side of the VxSvcHost control pipe, used by the operator tool and
// the tests. Commands are texts: "status", "stop" and "event <code>".
#include <windows.h>
#include <string>
#include "HostProtocol.h"

namespace Host
{

// An empty name, or 1 to kMaxHostNameChars letters, digits, '.', '-', '_'.
bool IsValidHostName(const std::wstring& hostName);

// "\\.\pipe\VxSvcHost.<name>"; the default name when hostName is empty.
// Empty for an invalid name.
std::wstring HostPipeName(const std::wstring& hostName);

// Turns a command text into a request. "event" takes one code, decimal or
// 0x-hexadecimal, 0 to 4294967295. ERROR_INVALID_PARAMETER for anything else.
DWORD ParseHostCommand(const std::wstring& command, _HOSTREQUEST& request);

// One request and its reply. Returns the transport status: ERROR_FILE_NOT_FOUND
// when no such host listens, ERROR_TIMEOUT when it did not answer within
// timeoutMs, ERROR_INVALID_DATA for a reply that is not a well-formed one.
// On success the reply's own status is in reply.status.
DWORD HostTransact(const std::wstring& hostName, const _HOSTREQUEST& request, _HOSTREPLY& reply,
                   DWORD timeoutMs);

// Sends a command text; replyText receives the reply's text. Returns the
// transport status or, once a reply arrived, the reply's status.
DWORD HostSendCommand(const std::wstring& hostName, const std::wstring& command,
                      std::wstring& replyText, DWORD timeoutMs);

// Polls the host with "status" until it answers or timeoutMs passed.
bool WaitForHost(const std::wstring& hostName, DWORD timeoutMs);

} // namespace Host
