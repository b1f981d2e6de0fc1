#pragma once
// kaleoctl netdev: the stand-in for the SDK processes around the network
// device managers. It writes their configuration files, points "Path" at
// them, commands a module through "Event" and its command event, steers
// the sample plug-ins and reads back what the plug-ins journalled. The
// subcommands take the arguments after their name and return the process
// exit code (0 done, 1 failed, 2 usage).
#include <windows.h>
#include <cstdint>
#include <string>

#include "Commands.h"
#include "NetDeviceNames.h"

namespace NetDev
{

// Registry values under a module's settings key.
using NetDevice::EVENT_VALUE;
using NetDevice::PATH_VALUE;

// What the tool needs to know of one device manager module.
struct CModule
{
    const wchar_t* name;        // "hue" or "iot" on the command line
    const wchar_t* settingsKey; // HKLM, 32-bit view
    const wchar_t* commandEvent;
    const char* pluginName; // "plugin=" in the journal
};

const CModule& HueModule();
const CModule& IoTModule();
// Null for a name that is neither "hue" nor "iot".
const CModule* FindModule(const std::wstring& name);

int Hue(CArgs& args);
int IoT(CArgs& args);
int Send(CArgs& args);
int Plugin(CArgs& args);
int Show(CArgs& args);
int Journal(CArgs& args);

// "netdev CMD: unexpected argument 'X'" for the first leftover; true when none.
bool NoMoreArgs(const CArgs& args, const wchar_t* command);

// The install folder, or an error message and false.
bool InstallPathOrSay(const wchar_t* command, std::wstring& installPath);

// A signed 32-bit decimal number, with an optional "-".
bool ParseInt32(const std::wstring& text, int32_t& value);
// An unsigned 64-bit number, decimal or hex after 0x.
bool ParseUInt64(const std::wstring& text, uint64_t& value);

// Points the module's "Path" at the file's full path; prints what it did.
// 0, or 1 after saying why.
int SetConfigPath(const CModule& module, const std::wstring& fullPath);

} // namespace NetDev
