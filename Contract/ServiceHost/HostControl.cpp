// Client side of the VxSvcHost control pipe; see HostControl.h.
#include "HostControl.h"

#include <cwchar>
#include <cwctype>
#include <memory>
#include <new>
#include <vector>

#include "Handles.h"
#include "PipeIo.h"
#include "TextCodec.h"

namespace Host
{
namespace
{

constexpr DWORD kPollIntervalMs = 50;
constexpr DWORD kPollAttemptMs = 1000;

bool IsNameChar(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
           c == L'.' || c == L'-' || c == L'_';
}

std::vector<std::wstring> SplitWords(const std::wstring& text)
{
    std::vector<std::wstring> words;
    std::wstring word;
    for (wchar_t c : text)
    {
        if (std::iswspace(c))
        {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        }
        else
            word += c;
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

// Unsigned 32-bit number, decimal or 0x-hexadecimal, nothing else around it.
bool ParseCode(const std::wstring& text, DWORD& code)
{
    size_t i = 0;
    unsigned base = 10;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
    {
        base = 16;
        i = 2;
    }
    if (i >= text.size())
        return false;
    ULONGLONG value = 0;
    for (; i < text.size(); ++i)
    {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            digit = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            digit = c - L'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return false;
    }
    code = static_cast<DWORD>(value);
    return true;
}

// Opens the host's pipe in message mode, waiting while it serves another client.
DWORD OpenHostPipe(const std::wstring& pipeName, ULONGLONG deadline, Common::CHandle& pipe)
{
    for (;;)
    {
        // Identification only: a process squatting on the name cannot act as us.
        pipe.Reset(::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                 nullptr));
        if (pipe)
            break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_PIPE_BUSY)
            return error;
        const DWORD left = Common::RemainingMs(deadline);
        if (left == 0)
            return ERROR_TIMEOUT;
        if (!::WaitNamedPipeW(pipeName.c_str(), left))
        {
            const DWORD waitError = ::GetLastError();
            if (waitError != ERROR_SEM_TIMEOUT && waitError != ERROR_PIPE_BUSY)
                return waitError;
            if (Common::RemainingMs(deadline) == 0)
                return ERROR_TIMEOUT;
        }
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

// The reply comes from another process: checked whole before it is used.
DWORD CheckReply(_HOSTREPLY& reply, DWORD bytes)
{
    if (bytes != sizeof(_HOSTREPLY) || reply.magic != kHostProtocolMagic ||
        reply.version != kHostProtocolVersion || reply.moduleCount > kMaxHostModules)
        return ERROR_INVALID_DATA;
    reply.text[kHostReplyTextChars - 1] = L'\0';
    return ERROR_SUCCESS;
}

} // namespace

bool IsValidHostName(const std::wstring& hostName)
{
    if (hostName.size() > kMaxHostNameChars)
        return false;
    for (wchar_t c : hostName)
        if (!IsNameChar(c))
            return false;
    return true;
}

std::wstring HostPipeName(const std::wstring& hostName)
{
    if (!IsValidHostName(hostName))
        return std::wstring();
    return std::wstring(kHostPipePrefix) + (hostName.empty() ? kDefaultHostName : hostName.c_str());
}

DWORD ParseHostCommand(const std::wstring& command, _HOSTREQUEST& request)
{
    request = _HOSTREQUEST{kHostProtocolMagic, kHostProtocolVersion, HOST_CMD_NONE, 0};
    std::vector<std::wstring> words;
    try
    {
        words = SplitWords(command);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (words.size() == 1 && Common::EqualsNoCase(words[0].c_str(), L"status"))
        request.command = HOST_CMD_STATUS;
    else if (words.size() == 1 && Common::EqualsNoCase(words[0].c_str(), L"stop"))
        request.command = HOST_CMD_STOP;
    else if (words.size() == 2 && Common::EqualsNoCase(words[0].c_str(), L"event") &&
             ParseCode(words[1], request.argument))
        request.command = HOST_CMD_EVENT;
    else
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

DWORD HostTransact(const std::wstring& hostName, const _HOSTREQUEST& request, _HOSTREPLY& reply,
                   DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    std::wstring pipeName;
    try
    {
        pipeName = HostPipeName(hostName);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (pipeName.empty())
        return ERROR_INVALID_NAME;
    Common::CHandle pipe;
    DWORD status = OpenHostPipe(pipeName, deadline, pipe);
    if (status != ERROR_SUCCESS)
        return status;
    status = Common::WritePipeMessage(pipe.Get(), &request, sizeof(request), Common::RemainingMs(deadline), nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD bytes = 0;
    status = Common::ReadPipeMessage(pipe.Get(), &reply, sizeof(reply), bytes, Common::RemainingMs(deadline), nullptr);
    if (status == ERROR_MORE_DATA)
        return ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS)
        return status;
    return CheckReply(reply, bytes);
}

DWORD HostSendCommand(const std::wstring& hostName, const std::wstring& command,
                      std::wstring& replyText, DWORD timeoutMs)
{
    replyText.clear();
    _HOSTREQUEST request;
    DWORD status = ParseHostCommand(command, request);
    if (status != ERROR_SUCCESS)
        return status;
    std::unique_ptr<_HOSTREPLY> reply(new (std::nothrow) _HOSTREPLY());
    if (!reply)
        return ERROR_NOT_ENOUGH_MEMORY;
    status = HostTransact(hostName, request, *reply, timeoutMs);
    if (status != ERROR_SUCCESS)
        return status;
    try
    {
        replyText = reply->text;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return reply->status;
}

bool WaitForHost(const std::wstring& hostName, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    std::unique_ptr<_HOSTREPLY> reply(new (std::nothrow) _HOSTREPLY());
    if (!reply)
        return false;
    const _HOSTREQUEST request = {kHostProtocolMagic, kHostProtocolVersion, HOST_CMD_STATUS, 0};
    for (;;)
    {
        const DWORD left = Common::RemainingMs(deadline);
        const DWORD attempt = left < kPollAttemptMs ? left : kPollAttemptMs;
        if (HostTransact(hostName, request, *reply, attempt) == ERROR_SUCCESS &&
            reply->status == ERROR_SUCCESS)
            return true;
        if (Common::RemainingMs(deadline) == 0)
            return false;
        ::Sleep(kPollIntervalMs);
    }
}

} // namespace Host
