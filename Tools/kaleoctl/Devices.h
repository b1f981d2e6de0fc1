#pragma once
// kaleoctl devices: the stand-in for the processes outside the SDK that
// publish devices for the proxy in the registry, and the proxy's view of
// what they published. The subcommands take the arguments after their name
// and return the process exit code (0 done, 1 failed, 2 usage).
#include <string>

#include "Commands.h"

namespace Devices
{

int Publish(CArgs& args);
int Unpublish(CArgs& args);
int Hue(CArgs& args);
int List(CArgs& args);
int BroadcastService(CArgs& args);

// A registry key name given on the command line: 1 to 255 characters and no
// "\", which would address a key below another one.
bool IsKeyName(const std::wstring& name);

// The longest text the proxy reads from a value; longer ones it cannot use.
bool IsReadableText(const std::wstring& text);

// "Cmd: unexpected argument 'X'" for the first leftover; true when none.
bool NoMoreArgs(const CArgs& args, const wchar_t* command);

} // namespace Devices
