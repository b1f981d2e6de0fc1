// Plug-ins that fail the device managers: a refusing Init, no Init, no
// UnInit, a missing file or one outside InstallPath\bin, and a copy another
// process holds open. The devices attached through sound plug-ins stay,
// and the module goes on serving commands.
#include "HostedModules.h"

#include <algorithm>
#include <functional>

#include "IoTDeviceList.h"
#include "Scramble.h"

namespace NetDevRobustness
{
namespace
{

const char kExtraMac[] = "aa:bb:cc:dd:ee:03";

class Plugins : public CHostedModules
{
protected:
    // Attaches a third IoT device through the catalogue entry of `pid`.
    bool LoadExtra(int pid)
    {
        WriteIoTList({IoTDevice(kExtraMac, pid)});
        return Loaded(L"iot");
    }
    // The copy of the second IoT device of the valid state.
    std::wstring SecondCopy() const
    {
        for (const std::wstring& copy : m_validCopies)
            if (copy.find(L"EE02") != std::wstring::npos || copy.find(L"ee02") != std::wstring::npos)
                return Bin() + L"\\" + copy;
        return std::wstring();
    }
};

TEST_F(Plugins, FailingPluginsLeaveTheOtherDevicesAttachedAndCommandsServed)
{
    Common::CHandle lock;
    struct
    {
        const char* name;
        std::function<bool()> attack;
        const wchar_t* line; // the module's line for the third device
    } const cases[] = {
        {"Init fails",
         [&] {
             WritePluginControl(std::string(kExtraMac) + " 5\n");
             return LoadExtra(0x0401);
         },
         L"CIoTDeviceManager::AddDevice | END | Result = 5"},
        {"Init missing", [&] { return LoadExtra(0x0402); }, L"CIoTDeviceManager::AddDevice | END | Result = 15841"},
        {"plug-in file missing", [&] { return LoadExtra(0x0403); }, L"CIoTDeviceManager::AddDevice | END | Result = 126"},
        {"plug-in outside bin", [&] { return LoadExtra(0x0405); }, L"CIoTDeviceManager::AddDevice | END | Result = 126"},
        // The device is dropped from the list while another process holds
        // its copy open: the copy cannot be deleted at the detach.
        {"copy locked",
         [&] {
             lock.Reset(::CreateFileW(SecondCopy().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
             const std::string first = IoTDevice("aa:bb:cc:dd:ee:01", 0x0401);
             const std::string bytes = NetDevice::MakeLengthPrefixedScrambledFile("[" + first + "]", IoTList::CONFIG_KEY);
             TestEnv::WriteFileBytes(IoTList(), bytes.data(), bytes.size());
             const bool loaded = lock.IsValid() && Loaded(L"iot");
             lock.Reset();
             return loaded;
         },
         L"CIoTDeviceManager::RemoveDevice | DeleteFile("},
        // Attached, then dropped from the list: its copy is never unloaded.
        {"UnInit missing", [&] { return LoadExtra(0x0404) && Copies().size() == 4 && Restore(); },
         L"CIoTDeviceManager::RemoveDevice | END | Result = 15841"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto attack = Attack("plug-ins", c.name);
        const size_t before = CountInLog(c.line);
        if (!c.attack())
            attack.Hang();
        EXPECT_EQ(before + 1, CountInLog(c.line));
        const size_t attached = Attached();
        attack.Lost(static_cast<unsigned>(3 - std::min<size_t>(3, attached)));
        WritePluginControl("");
        if (!Restore())
            attack.Hang();
        Finish(attack);
    }
}

} // namespace
} // namespace NetDevRobustness
