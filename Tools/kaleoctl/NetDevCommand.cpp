// kaleoctl netdev: dispatch of the subcommands, the two modules it talks
// to, and the checks shared by the subcommands.
#include <windows.h>
#include <cerrno>
#include <cwchar>
#include <cwctype>

#include "Console.h"
#include "NetDev.h"
#include "PluginFiles.h"
#include "Registry.h"

namespace
{

const wchar_t kUsage[] =
    L"usage: kaleoctl netdev hue --file PATH --id ID [--name N] [--ip A] [--group ID=L1,L2,...]... [--selected ID]\n"
    L"                           [--plain] [--no-path]\n"
    L"       kaleoctl netdev hue --file PATH --raw TEXT [--plain] [--no-path]\n"
    L"       kaleoctl netdev iot add --file PATH --mac MAC --pid N [--name N] [--ip A] [--serial S] [--eid N]\n"
    L"                               [--handle N] [--no-path]\n"
    L"       kaleoctl netdev iot change --file PATH --mac MAC [--pid N] [--name N] [--ip A] [--serial S] [--eid N]\n"
    L"                                  [--handle N] [--no-path]\n"
    L"       kaleoctl netdev iot remove|clear|show --file PATH [--mac MAC] [--no-path]\n"
    L"       kaleoctl netdev iot raw --file PATH --text T [--length N] [--no-path]\n"
    L"       kaleoctl netdev send hue|iot Load|Reset|WORD\n"
    L"       kaleoctl netdev plugin --id ID --result N [--delay MS] | --clear\n"
    L"       kaleoctl netdev show [hue|iot]\n"
    L"       kaleoctl netdev journal\n"
    L"  hue      write the bridge configuration (JSON, scrambled) and point the Hue module's Path at it;\n"
    L"           --raw writes TEXT instead of the JSON, --plain leaves the bytes unscrambled\n"
    L"  iot      edit the IoT device list (length-prefixed, scrambled; a missing file is an empty list; MAC\n"
    L"           addresses compared without case) and point the IoT module's Path at it; raw writes TEXT\n"
    L"           behind a length field of N (default: its byte count)\n"
    L"  send     write Event under the module's settings key and set its command event\n"
    L"  plugin   what the sample plug-ins' Init answers for a device (ID a bridge id, a MAC address or *):\n"
    L"           result N after MS milliseconds (at most 60000); --clear removes every rule\n"
    L"  show     the plug-in copies in InstallPath\\bin and the devices the plug-ins' journal says are attached\n"
    L"  journal  the plug-ins' journal\n"
    L"Exit codes: 0 done, 1 failed, 2 usage.\n";

const CSubcommand kSubcommands[] = {
    {L"hue", NetDev::Hue},       {L"iot", NetDev::IoT},   {L"send", NetDev::Send},
    {L"plugin", NetDev::Plugin}, {L"show", NetDev::Show}, {L"journal", NetDev::Journal},
};

// The settings keys and command events the two modules read and wait on.
const NetDev::CModule kHue = {L"hue", NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::SMARTLIGHTING_COMMAND_EVENT,
                              PluginFiles::PLUGIN_HUE};
const NetDev::CModule kIoT = {L"iot", NetDevice::IOT_SETTINGS_KEY, NetDevice::IOT_COMMAND_EVENT,
                              PluginFiles::PLUGIN_IOT};

} // namespace

namespace NetDev
{

const CModule& HueModule()
{
    return kHue;
}

const CModule& IoTModule()
{
    return kIoT;
}

const CModule* FindModule(const std::wstring& name)
{
    if (name == kHue.name)
        return &kHue;
    if (name == kIoT.name)
        return &kIoT;
    return nullptr;
}

bool NoMoreArgs(const CArgs& args, const wchar_t* command)
{
    if (args.empty())
        return true;
    Console::Error(L"netdev %s: unexpected argument '%s'\n", command, args[0].c_str());
    return false;
}

bool InstallPathOrSay(const wchar_t* command, std::wstring& installPath)
{
    if (Common::GetInstallPath(installPath))
        return true;
    Console::Error(L"netdev %s: no InstallPath in HKLM\\%s; run 'kaleoctl install' first\n", command,
                   Common::KALEO_ROOT_KEY);
    return false;
}

bool ParseInt32(const std::wstring& text, int32_t& value)
{
    const bool negative = !text.empty() && text[0] == L'-';
    unsigned long magnitude = 0;
    if (!ParseNumber(negative ? text.substr(1) : text, magnitude))
        return false;
    if (negative ? magnitude > 0x80000000ul : magnitude > 0x7FFFFFFFul)
        return false;
    value = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

bool ParseUInt64(const std::wstring& text, uint64_t& value)
{
    unsigned long long parsed = 0;
    if (!ParseNumber64(text, parsed, true))
        return false;
    value = parsed;
    return true;
}

int SetConfigPath(const CModule& module, const std::wstring& fullPath)
{
    if (fullPath.size() > Common::REG_TEXT_MAX_CHARS)
    {
        Console::Error(L"netdev: %s is longer than the %lu characters a module reads from %s; give a shorter "
                       L"path or --no-path\n",
                       fullPath.c_str(), Common::REG_TEXT_MAX_CHARS, PATH_VALUE);
        return 1;
    }
    const DWORD rc = Common::RegSetString(module.settingsKey, PATH_VALUE, fullPath);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev: cannot write %s under HKLM\\%s (%lu)\n", PATH_VALUE, module.settingsKey, rc);
        return 1;
    }
    Console::Print(L"  HKLM\\%s\\%s = %s\n", module.settingsKey, PATH_VALUE, fullPath.c_str());
    return 0;
}

} // namespace NetDev

int CmdNetDev(const CArgs& args)
{
    return RunSubcommand(args, kSubcommands, kUsage);
}
