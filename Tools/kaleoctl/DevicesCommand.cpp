// kaleoctl devices: dispatch of the subcommands and the checks of the names
// and texts they take from the command line.
#include <windows.h>
#include <cwchar>

#include "Console.h"
#include "Devices.h"
#include "Registry.h"

namespace
{

const wchar_t kUsage[] =
    L"usage: kaleoctl devices publish hid|usb --hardware ID --instance ID [--container TEXT]\n"
    L"       kaleoctl devices unpublish hid|usb --hardware ID [--instance ID]\n"
    L"       kaleoctl devices publish iot --product NAME --id ID\n"
    L"       kaleoctl devices unpublish iot --product NAME [--id ID]\n"
    L"       kaleoctl devices publish broadcast --name NAME --pid N --index N --supported MASK\n"
    L"       kaleoctl devices unpublish broadcast --name NAME\n"
    L"       kaleoctl devices hue [--path TEXT | --unpair] [--bulbs LIST]\n"
    L"       kaleoctl devices broadcast-service [--seconds N] | --stop\n"
    L"       kaleoctl devices list\n"
    L"  publish      write a device's registry entry as its publisher would (HKLM, 32-bit view)\n"
    L"  unpublish    remove it; without the inner name, the whole hardware id or product\n"
    L"  hue          set the Hue bridge's Path (empty: not paired) and bulb list (e.g. 3,7)\n"
    L"  broadcast-service  hold the broadcast service's presence mutex until --stop or N seconds\n"
    L"  list         every published device with the key, object, pipe and plug-in the proxy\n"
    L"               derives for it, and why the proxy would not add it\n"
    L"  --supported MASK: 0x20 a pid-770 device, 0x01 a pid-818 device (hex or decimal)\n"
    L"Exit codes: 0 done, 1 failed, 2 usage.\n";

const CSubcommand kSubcommands[] = {
    {L"publish", Devices::Publish},
    {L"unpublish", Devices::Unpublish},
    {L"hue", Devices::Hue},
    {L"list", Devices::List},
    {L"broadcast-service", Devices::BroadcastService},
};

} // namespace

namespace Devices
{

bool IsKeyName(const std::wstring& name)
{
    return !name.empty() && name.size() <= Common::REG_KEY_NAME_MAX_CHARS && name.find(L'\\') == std::wstring::npos;
}

bool IsReadableText(const std::wstring& text)
{
    return text.size() <= Common::REG_TEXT_MAX_CHARS;
}

bool NoMoreArgs(const CArgs& args, const wchar_t* command)
{
    if (args.empty())
        return true;
    Console::Error(L"devices %s: unexpected argument '%s'\n", command, args[0].c_str());
    return false;
}

} // namespace Devices

int CmdDevices(const CArgs& args)
{
    return RunSubcommand(args, kSubcommands, kUsage);
}
