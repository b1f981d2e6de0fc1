// kaleoctl status, network devices section: what the two network device
// managers publish. A running manager holds its command event; its
// settings key holds the configuration "Path" and the last "Event"; each
// attached device has its own plug-in copy in InstallPath\bin.
#include <windows.h>

#include "Console.h"
#include "Handles.h"
#include "NetDev.h"
#include "NetDevFiles.h"
#include "Registry.h"
#include "Status.h"

namespace Status
{
namespace
{

// The IoT manager's copies carry "0000-" after the part both share
// ("2F1A" + pid + "-00FF-FFFF-"); the Hue manager's carry the bridge id.
constexpr wchar_t kSharedMiddle[] = L"-00FF-FFFF-";
constexpr wchar_t kIoTMiddle[] = L"-00FF-FFFF-0000-";

bool IsIoTCopy(const std::wstring& name)
{
    return name.find(kIoTMiddle) != std::wstring::npos;
}

bool IsNetDevCopy(const std::wstring& name)
{
    return name.find(kSharedMiddle) != std::wstring::npos;
}

struct CModuleState
{
    bool running = false;
    unsigned copies = 0;
};

CModuleState LookAtModule(const NetDev::CModule& module, const std::vector<std::wstring>& copies, CSection& section)
{
    CModuleState state;
    state.running = static_cast<bool>(Common::CHandle(::OpenEventW(SYNCHRONIZE, FALSE, module.commandEvent)));
    for (const std::wstring& name : copies)
        state.copies += IsNetDevCopy(name) && IsIoTCopy(name) == (&module == &NetDev::IoTModule()) ? 1 : 0;

    std::wstring path, word;
    const bool hasPath = Common::RegGetString(module.settingsKey, NetDev::PATH_VALUE, path) == ERROR_SUCCESS;
    const bool hasWord = Common::RegGetString(module.settingsKey, NetDev::EVENT_VALUE, word) == ERROR_SUCCESS;
    section.Add(Console::Format(L"%s: %s, %u plug-in cop%s; Path = %s; Event = %s", module.name,
                                state.running ? L"running (its command event exists)" : L"not running",
                                state.copies, state.copies == 1 ? L"y" : L"ies",
                                hasPath ? (L"\"" + Printable(path) + L"\"").c_str() : L"(none)",
                                hasWord ? Printable(word, 16).c_str() : L"(none)"));
    if (hasPath && !path.empty() && ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        const DWORD error = ::GetLastError();
        section.Fault(Console::Format(L"%s: its configuration file cannot be found (%lu)", module.name, error));
    }
    if (!state.running && state.copies != 0)
        section.Fault(Console::Format(L"%s: plug-in copies left while the module is not running", module.name));
    return state;
}

} // namespace

CSection NetDevSection()
{
    CSection section;
    std::wstring installPath;
    std::vector<std::wstring> copies;
    if (Common::GetInstallPath(installPath))
        copies = NetDevFiles::CopiesInBin(installPath);
    const CModuleState hue = LookAtModule(NetDev::HueModule(), copies, section);
    const CModuleState iot = LookAtModule(NetDev::IoTModule(), copies, section);
    for (size_t i = 0; i < copies.size() && i < kMaxListed; ++i)
        section.Add(L"bin\\" + Printable(copies[i]));
    if (copies.size() > kMaxListed)
        section.Add(Console::Format(L"... and %u more", static_cast<unsigned>(copies.size() - kMaxListed)));
    section.verdict = Console::Format(L"Network devices: %u attached through plug-ins (hue %u, iot %u); "
                                      L"hue module %s, iot module %s",
                                      hue.copies + iot.copies, hue.copies, iot.copies,
                                      hue.running ? L"running" : L"not running",
                                      iot.running ? L"running" : L"not running");
    return section;
}

} // namespace Status
