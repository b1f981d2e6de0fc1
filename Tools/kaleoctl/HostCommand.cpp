// Talks to a running service host over its control pipe.
#include <windows.h>

#include "Commands.h"
#include "Console.h"
#include "HostControl.h"

int CmdHost(const CArgs& argsIn)
{
    CArgs args = argsIn;
    std::wstring name;
    TakeOption(args, L"--name", name);
    std::wstring timeoutText;
    DWORD timeoutMs = 10000;
    if (TakeOption(args, L"--timeout", timeoutText))
    {
        unsigned long parsed = 0;
        if (!ParseNumber(timeoutText, parsed, 1, 3600000))
        {
            Console::Err(L"host: --timeout takes 1 to 3600000 ms\n");
            return 2;
        }
        timeoutMs = static_cast<DWORD>(parsed);
    }
    if (args.empty())
    {
        Console::Err(L"host: expected status, stop or event N\n");
        return 2;
    }
    if (!name.empty() && !Host::IsValidHostName(name))
    {
        Console::Err(L"host: invalid host name\n");
        return 2;
    }

    std::wstring command = args[0];
    for (size_t i = 1; i < args.size(); ++i)
        command += L" " + args[i];

    if (command == L"wait")
    {
        if (Host::WaitForHost(name, timeoutMs))
            return 0;
        Console::Err(L"host: no host answered in time\n");
        return 1;
    }

    std::wstring reply;
    const DWORD rc = Host::HostSendCommand(name, command, reply, timeoutMs);
    if (!reply.empty())
        Console::Print(L"%s%s", reply.c_str(), reply.back() == L'\n' ? L"" : L"\n");
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"host: '%s' failed (%lu)\n", command.c_str(), rc);
        return 1;
    }
    return 0;
}
