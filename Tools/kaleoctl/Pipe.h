#pragma once
// kaleoctl pipe: the stand-in for the device-side processes that write JSON
// messages into a device's data pipe, which the proxy's reader serves for
// each attached device. The actions take the arguments left after the
// target options and return the process exit code (0 done, 1 failed,
// 2 usage).
#include <windows.h>
#include <string>

#include "Commands.h"

namespace PipeCmd
{

// Where the messages go.
struct CTarget
{
    std::wstring name;    // \\.\pipe\..., filled by ResolveTarget for a handle
    bool bDevice = false; // looked up by device handle
    DWORD dwHandle = 0;
    DWORD dwWaitMs = 5000; // for the pipe to exist and be free
};

// For a target given by handle: looks up the published device with that
// key and takes its pipe name. 0, or 1 (message printed) without one.
int ResolveTarget(CTarget& target);

// "\\.\pipe\X (device 3023)", or the name alone.
std::wstring Describe(const CTarget& target);

int Send(CArgs& args, const CTarget& target);
int Flood(CArgs& args, const CTarget& target);

// Takes `option` when given: a decimal number in min..max. False (message
// printed) when it is given but not such a number; `value` stays otherwise.
bool TakeBounded(CArgs& args, const wchar_t* option, unsigned long min, unsigned long max, unsigned long& value,
                 bool* given = nullptr);

// "pipe ACTION: unexpected argument 'X'" for the first leftover; true when none.
bool NoMoreArgs(const CArgs& args, const wchar_t* action);

} // namespace PipeCmd
