// kaleoctl status, host section: the service host's own answer to
// "status" on its control pipe, within kHostProbeMs.
#include <windows.h>
#include <memory>
#include <new>

#include "Console.h"
#include "FileText.h"
#include "HostControl.h"
#include "Status.h"

namespace Status
{
namespace
{

// The reply's module lines ("[i] running PATH (...)"), as the host wrote them.
void AddModuleLines(const Host::_HOSTREPLY& reply, CSection& section)
{
    size_t lines = 0;
    for (const std::wstring& line : FileText::Lines(std::wstring(reply.text, ::wcsnlen(reply.text, Host::kHostReplyTextChars))))
    {
        if (lines > Host::kMaxHostModules)
            break;
        if (!line.empty() && line[0] == L'[')
        {
            section.Add(Printable(line));
            ++lines;
        }
    }
}

std::wstring Failure(DWORD rc)
{
    if (rc == ERROR_TIMEOUT || rc == ERROR_SEM_TIMEOUT || rc == ERROR_PIPE_BUSY)
        return Console::Format(L"Host: not answering (no reply on its control pipe within %lu ms: hung?)",
                               kHostProbeMs);
    if (rc == ERROR_INVALID_DATA)
        return L"Host: not answering properly (its reply is not a well-formed one)";
    return Console::Format(L"Host: not answering (control pipe error %lu)", rc);
}

} // namespace

CSection HostSection(const std::wstring& hostName)
{
    CSection section;
    const std::wstring pipe = Host::HostPipeName(hostName);
    std::unique_ptr<Host::_HOSTREPLY> reply(new (std::nothrow) Host::_HOSTREPLY());
    if (!reply)
    {
        section.verdict = L"Host: cannot be asked (out of memory)";
        section.healthy = false;
        return section;
    }
    const Host::_HOSTREQUEST request = {Host::kHostProtocolMagic, Host::kHostProtocolVersion, Host::HOST_CMD_STATUS, 0};
    const DWORD rc = Host::HostTransact(hostName, request, *reply, kHostProbeMs);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND)
    {
        section.verdict = L"Host: not running";
        section.Fault(L"no control pipe " + pipe);
        return section;
    }
    if (rc != ERROR_SUCCESS)
    {
        section.verdict = Failure(rc);
        section.Fault(L"control pipe " + pipe);
        return section;
    }
    unsigned running = 0;
    for (DWORD i = 0; i < reply->moduleCount; ++i)
        running += (reply->runningMask >> i) & 1u;
    section.verdict = Console::Format(L"Host: running (pid %lu), %lu module(s)", reply->processId, reply->moduleCount);
    if (running != reply->moduleCount)
        section.verdict += Console::Format(L", %lu not running", reply->moduleCount - running);
    section.healthy = reply->status == ERROR_SUCCESS && reply->moduleCount != 0 && running == reply->moduleCount;
    if (reply->status != ERROR_SUCCESS)
        section.Add(Console::Format(L"status request answered with error %lu", reply->status));
    if (reply->moduleCount == 0)
        section.Add(L"no service module loaded");
    AddModuleLines(*reply, section);
    return section;
}

} // namespace Status
