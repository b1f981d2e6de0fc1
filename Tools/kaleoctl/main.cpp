// kaleoctl: the operator tool for people who integrate and debug the SDK.
#include <windows.h>
#include <cstring>

#include "Commands.h"
#include "Console.h"

namespace
{
struct CCommand
{
    const wchar_t* name;
    int (*run)(const CArgs&);
    const wchar_t* help;
};

const CCommand kCommands[] = {
    {L"install", CmdInstall, L"install [--path DIR]      prepare this machine as the SDK installer would"},
    {L"uninstall", CmdUninstall, L"uninstall                 remove the SDK's registry root"},
    {L"log", CmdLog, L"log [--file NAME] [--follow] [--tail N]   print or follow the module log"},
    {L"registry", CmdRegistry, L"registry [KEY]            print the SDK's registry tree"},
    {L"app", CmdApp, L"app register|unregister|run ...   act as an app using the SDK (see 'kaleoctl app')"},
    {L"table", CmdTable, L"table [--watch]           print the shared app table"},
    {L"apps", CmdApps, L"apps                      app records, priority list and who owns the lighting"},
    {L"device", CmdDevice, L"device [--models] [--count N]   act as the device side: decode effect records"},
    {L"devices", CmdDevices,
     L"devices publish|unpublish|hue|broadcast-service|list ...   publish devices for the proxy, show what it derives"},
    {L"pipe", CmdPipe,
     L"pipe send|flood (--name PIPE | --handle H) ...   act as the device side: write into a device's data pipe"},
    {L"netdev", CmdNetDev,
     L"netdev hue|iot|send|plugin|show|journal ...   act as the SDK around the network device managers"},
    {L"status", CmdStatus,
     L"status [--name HOST]       one screen of the live system (exit 0 healthy, 1 something needs attention)"},
    {L"host", CmdHost, L"host status|stop|wait|event N [--name NAME]   talk to a running VxSvcHost"},
};

void Usage()
{
    Console::Err(L"usage: kaleoctl COMMAND [ARGS]\n");
    for (const CCommand& command : kCommands)
        Console::Error(L"  %s\n", command.help);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
    {
        Usage();
        return 2;
    }
    CArgs args(argv + 2, argv + argc);
    for (const CCommand& command : kCommands)
    {
        if (std::wcscmp(argv[1], command.name) == 0)
        {
            try
            {
                return command.run(args);
            }
            catch (...)
            {
                Console::Err(L"kaleoctl: internal error\n");
                return 3;
            }
        }
    }
    Usage();
    return 2;
}
