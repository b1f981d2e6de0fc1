// kaleoctl netdev send: commands a device manager as the SDK process that
// drives it does: the command word goes into "Event" first, then the
// module's command event is set. The module resets the event when it wakes.
#include <windows.h>

#include "Console.h"
#include "Handles.h"
#include "NetDev.h"
#include "Registry.h"

namespace NetDev
{

int Send(CArgs& args)
{
    if (args.size() != 2)
    {
        Console::Err(L"netdev send: give hue|iot and the command word (Load, Reset or any other)\n");
        return 2;
    }
    const CModule* module = FindModule(args[0]);
    const std::wstring& word = args[1];
    if (!module)
    {
        Console::Error(L"netdev send: no module '%s'; give hue or iot\n", args[0].c_str());
        return 2;
    }
    if (word.size() > Common::REG_TEXT_MAX_CHARS)
    {
        Console::Error(L"netdev send: the command word takes at most %lu characters\n", Common::REG_TEXT_MAX_CHARS);
        return 2;
    }

    const DWORD rc = Common::RegSetString(module->settingsKey, EVENT_VALUE, word);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev send: cannot write %s under HKLM\\%s (%lu)\n", EVENT_VALUE, module->settingsKey, rc);
        return 1;
    }
    const Common::CHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, module->commandEvent));
    if (!event)
    {
        const DWORD error = ::GetLastError();
        Console::Error(L"netdev send: %s wrote %s = %s, but the command event %s cannot be opened (%lu); is the "
                       L"module started?\n",
                       module->name, EVENT_VALUE, word.c_str(), module->commandEvent, error);
        return 1;
    }
    if (!::SetEvent(event.Get()))
    {
        Console::Error(L"netdev send: cannot set %s (%lu)\n", module->commandEvent, ::GetLastError());
        return 1;
    }
    Console::Print(L"send: %s: %s = %s, %s set\n", module->name, EVENT_VALUE, word.c_str(), module->commandEvent);
    return 0;
}

} // namespace NetDev
