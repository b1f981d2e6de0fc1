// kaleoctl app: acts as an app that uses the SDK. Registers this process (or
// another one) with the app manager through the control pipe or the request
// ring, holds the app's running marker while registered, and unregisters.
#include <windows.h>
#include <cerrno>
#include <cwchar>

#include "AppClient.h"
#include "Commands.h"
#include "Console.h"
#include "PriorityList.h"
#include "RequestChannel.h"

using namespace Common;
using namespace AppRequests;

namespace
{
constexpr DWORD kDefaultTimeoutMs = 15000;
constexpr DWORD kAbruptExitCode = 9;

const wchar_t kUsage[] =
    L"usage: kaleoctl app register   [--pid N] [--ring] [BLOCK] [--hold] [--for MS | --abrupt-after MS]\n"
    L"                               [--timeout MS] [--no-wait]\n"
    L"       kaleoctl app unregister [--pid N] [--ring] [--timeout MS] [--no-wait]\n"
    L"       kaleoctl app run ...    the same as 'app register --hold ...'\n"
    L"  --pid N            act for process N (default: this process)\n"
    L"  --ring             use the request ring (process id only) instead of the control pipe\n"
    L"  BLOCK (control pipe only; texts are cut to their fields):\n"
    L"    --title T  --desc D  --author A  --contact C\n"
    L"    --devices MASK   supported device bits, hex (0x..) or decimal\n"
    L"    --category N     app category\n"
    L"  --hold             stay registered, holding the app's running marker, until killed\n"
    L"  --for MS           (implies --hold) unregister through the same channel after MS, exit 0\n"
    L"  --abrupt-after MS  (implies --hold) end the process after MS at once, without\n"
    L"                     unregistering (exit code 9)\n"
    L"  --timeout MS       how long to wait for the channel and for the app table to show\n"
    L"                     the change (default 15000)\n"
    L"  --no-wait          do not wait for the app table\n"
    L"Exit codes: 0 done, 1 the request failed or was not seen in time, 2 usage.\n";

struct CAppOptions
{
    DWORD dwProcessId = 0;
    bool bRing = false;
    bool bHold = false;
    bool bWait = true;
    DWORD dwTimeoutMs = kDefaultTimeoutMs;
    DWORD dwForMs = INFINITE;
    DWORD dwAbruptMs = INFINITE;
    std::wstring title, description, author, contact;
    DWORD dwDevices = 0;
    DWORD dwCategory = 0;
    bool bBlockFields = false;
};

bool TakeNumber(CArgs& args, const wchar_t* name, DWORD& value, bool allowHex, bool& bad)
{
    std::wstring text;
    if (!TakeOption(args, name, text))
        return false;
    unsigned long parsed = 0;
    if (ParseNumber(text, parsed, allowHex))
        value = static_cast<DWORD>(parsed);
    else
    {
        Console::Error(L"app: %s needs a number, not '%s'\n", name, text.c_str());
        bad = true;
    }
    return true;
}

bool TakeText(CArgs& args, const wchar_t* name, std::wstring& value, CAppOptions& options)
{
    if (!TakeOption(args, name, value))
        return false;
    options.bBlockFields = true;
    return true;
}

// False (usage printed) on a malformed command line.
bool ParseOptions(CArgs args, bool registering, CAppOptions& options)
{
    bool bad = false;
    options.dwProcessId = ::GetCurrentProcessId();
    TakeNumber(args, L"--pid", options.dwProcessId, false, bad);
    TakeNumber(args, L"--timeout", options.dwTimeoutMs, false, bad);
    options.bRing = TakeFlag(args, L"--ring");
    options.bWait = !TakeFlag(args, L"--no-wait");
    if (registering)
    {
        options.bHold = TakeFlag(args, L"--hold") || options.bHold;
        if (TakeNumber(args, L"--for", options.dwForMs, false, bad))
            options.bHold = true;
        if (TakeNumber(args, L"--abrupt-after", options.dwAbruptMs, false, bad))
            options.bHold = true;
        TakeText(args, L"--title", options.title, options);
        TakeText(args, L"--desc", options.description, options);
        TakeText(args, L"--author", options.author, options);
        TakeText(args, L"--contact", options.contact, options);
        if (TakeNumber(args, L"--devices", options.dwDevices, true, bad))
            options.bBlockFields = true;
        if (TakeNumber(args, L"--category", options.dwCategory, true, bad))
            options.bBlockFields = true;
        if (options.dwForMs != INFINITE && options.dwAbruptMs != INFINITE)
        {
            Console::Err(L"app: --for and --abrupt-after exclude each other\n");
            bad = true;
        }
        if (options.bRing && options.bBlockFields)
        {
            Console::Err(L"app: the request ring carries only the process id; block fields need the pipe\n");
            bad = true;
        }
    }
    if (!args.empty())
    {
        Console::Error(L"app: unexpected argument '%s'\n", args[0].c_str());
        bad = true;
    }
    if (options.dwProcessId == 0)
    {
        Console::Err(L"app: --pid 0 is no process\n");
        bad = true;
    }
    return !bad;
}

void CopyText(wchar_t* field, size_t chars, const std::wstring& text)
{
    const size_t n = text.size() < chars - 1 ? text.size() : chars - 1;
    std::wmemcpy(field, text.data(), n);
    std::wmemset(field + n, L'\0', chars - n);
}

template <size_t N>
void CopyText(wchar_t (&field)[N], const std::wstring& text)
{
    CopyText(field, N, text);
}

const wchar_t* ChannelName(const CAppOptions& options)
{
    return options.bRing ? L"the request ring" : L"the control pipe";
}

// Sends one request through the chosen channel; 0 or the Win32 error.
DWORD SendRequest(const CAppOptions& options, bool registering)
{
    if (options.bRing)
        return AppClient::SendRingRequest(options.dwProcessId, registering ? REQUEST_REGISTER : 0,
                                          options.dwTimeoutMs);
    _REGISTERDATATYPE block;
    ::ZeroMemory(&block, sizeof(block));
    block.dwRequest = registering ? 1 : 0;
    block.dwProcessId = options.dwProcessId;
    if (registering)
    {
        CopyText(block.szTitle, options.title);
        CopyText(block.szDescription, options.description);
        CopyText(block.szAuthor, options.author);
        CopyText(block.szContact, options.contact);
        block.dwDevices = options.dwDevices;
        block.dwCategory = options.dwCategory;
    }
    return AppClient::SendPipeBlock(block, options.dwTimeoutMs);
}

int RowsOf(DWORD processId)
{
    AppClient::CTableSnapshot table;
    return AppClient::ReadTable(table) == ERROR_SUCCESS ? AppClient::CountRows(table, processId) : 0;
}

// Polls the app table until the rows of the process are more (or fewer)
// than before.
bool WaitForRows(DWORD processId, int before, bool more, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;)
    {
        const int now = RowsOf(processId);
        if (more ? now > before : now < before)
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(20);
    }
}

std::wstring Label(const std::wstring& name)
{
    return name.empty() ? std::wstring(L"image unknown") : name;
}

int Unregister(const CAppOptions& options, const std::wstring& name)
{
    const int before = RowsOf(options.dwProcessId);
    const DWORD rc = SendRequest(options, false);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"app: cannot send the unregistration of pid %lu through %s (%lu)\n", options.dwProcessId,
                       ChannelName(options), rc);
        return 1;
    }
    if (!options.bWait || before == 0)
    {
        Console::Print(L"sent unregistration of pid %lu (%s) through %s%s\n", options.dwProcessId,
                       Label(name).c_str(), ChannelName(options), before == 0 ? L"; it had no row" : L"");
        return 0;
    }
    if (!WaitForRows(options.dwProcessId, before, false, options.dwTimeoutMs))
    {
        Console::Error(L"app: pid %lu still has %d row(s) %lu ms after its unregistration\n", options.dwProcessId,
                       before, options.dwTimeoutMs);
        return 1;
    }
    Console::Print(L"unregistered pid %lu (%s) through %s\n", options.dwProcessId, Label(name).c_str(),
                   ChannelName(options));
    return 0;
}

int Register(const CAppOptions& options, const std::wstring& name)
{
    CHandle marker;
    if (!name.empty())
    {
        const std::wstring markerName = PriorityList::MarkerName(name);
        const DWORD rc = AppClient::CreateMarker(markerName, marker);
        if (rc != ERROR_SUCCESS)
            Console::Error(L"app: cannot create the running marker %s (%lu)\n", markerName.c_str(), rc);
        else
            Console::Print(L"holding running marker %s\n", markerName.c_str());
    }
    else
        Console::Error(L"app: pid %lu: image name unknown; no running marker\n", options.dwProcessId);

    const int before = RowsOf(options.dwProcessId);
    const DWORD rc = SendRequest(options, true);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"app: cannot send the registration of pid %lu through %s (%lu)\n", options.dwProcessId,
                       ChannelName(options), rc);
        return 1;
    }
    if (!options.bWait)
        Console::Print(L"sent registration of pid %lu (%s) through %s\n", options.dwProcessId, Label(name).c_str(),
                       ChannelName(options));
    else if (WaitForRows(options.dwProcessId, before, true, options.dwTimeoutMs))
        Console::Print(L"registered pid %lu (%s) through %s\n", options.dwProcessId, Label(name).c_str(),
                       ChannelName(options));
    else
    {
        Console::Error(L"app: pid %lu sent through %s, but no row appeared within %lu ms\n", options.dwProcessId,
                       ChannelName(options), options.dwTimeoutMs);
        return 1;
    }

    if (!options.bHold)
        return 0;
    if (options.dwAbruptMs != INFINITE)
    {
        Console::Print(L"holding pid %lu; ending abruptly in %lu ms\n", options.dwProcessId, options.dwAbruptMs);
        ::Sleep(options.dwAbruptMs);
        Console::Print(L"ending pid %lu abruptly, still registered\n", ::GetCurrentProcessId());
        ::TerminateProcess(::GetCurrentProcess(), kAbruptExitCode);
        return static_cast<int>(kAbruptExitCode);  // not reached
    }
    if (options.dwForMs == INFINITE)
    {
        Console::Print(L"holding pid %lu until killed\n", options.dwProcessId);
        for (;;)
            ::Sleep(INFINITE);
    }
    Console::Print(L"holding pid %lu for %lu ms\n", options.dwProcessId, options.dwForMs);
    ::Sleep(options.dwForMs);
    return Unregister(options, name);
}
} // namespace

int CmdApp(const CArgs& argsIn)
{
    CArgs args = argsIn;
    if (args.empty())
    {
        Console::Err(kUsage);
        return 2;
    }
    const std::wstring verb = args[0];
    args.erase(args.begin());
    const bool registering = verb == L"register" || verb == L"run";
    if (!registering && verb != L"unregister")
    {
        Console::Err(kUsage);
        return 2;
    }

    CAppOptions options;
    options.bHold = verb == L"run";
    if (!ParseOptions(args, registering, options))
    {
        Console::Err(kUsage);
        return 2;
    }
    const std::wstring name = AppClient::ProcessFileName(options.dwProcessId);
    return registering ? Register(options, name) : Unregister(options, name);
}
