// The settings values other processes write for the network device
// managers: "Path" and "Event" of both modules, and the bridge module's
// "Debug", read at its start. None may crash the host or lose a device
// beyond what the value means; a valid command afterwards is served.
#include "HostedModules.h"

#include "HostileValues.h"
#include "NetDeviceNames.h"

namespace NetDevRobustness
{
namespace
{

using Robustness::CHostileValue;

struct CSetting
{
    const wchar_t* module;
    const wchar_t* key;
    const wchar_t* value;
    const wchar_t* event;
};

const CSetting kSettings[] = {
    {L"hue", NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::PATH_VALUE, NetDevice::SMARTLIGHTING_COMMAND_EVENT},
    {L"iot", NetDevice::IOT_SETTINGS_KEY, NetDevice::PATH_VALUE, NetDevice::IOT_COMMAND_EVENT},
    {L"hue", NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::EVENT_VALUE, NetDevice::SMARTLIGHTING_COMMAND_EVENT},
    {L"iot", NetDevice::IOT_SETTINGS_KEY, NetDevice::EVENT_VALUE, NetDevice::IOT_COMMAND_EVENT},
};

class NetDevSettings : public CHostedModules
{
protected:
    // A "Path" that names no readable file makes the reader end with 13,
    // which detaches the module's devices; any other result keeps them.
    static std::wstring Emptied(const CSetting& setting)
    {
        return std::wstring(std::wstring(setting.module) == L"hue" ? L"CSmartlightingDeviceManager"
                                                                   : L"CIoTDeviceManager") +
               L"::GetDevicesInfo | END | Result = 13\r\n";
    }
};

TEST_F(NetDevSettings, HostileValuesAreRefusedOrMeanWhatTheySayAndCommandsAreServedAfterwards)
{
    for (const CSetting& setting : kSettings)
        for (const CHostileValue& form : Robustness::HostileTexts())
        {
            const std::string name = TestEnv::Narrow(std::wstring(setting.module) + L" " + setting.value) + " " + form.form;
            SCOPED_TRACE(name);
            auto attack = Attack("registry (net devices)", name);
            const bool path = std::wstring(setting.value) == NetDevice::PATH_VALUE;
            size_t kept = 3;
            if (path)
            {
                const size_t emptied = CountInLog(Emptied(setting));
                Robustness::WriteHostile(setting.key, setting.value, form);
                // "Load" through the commander, which leaves "Path" alone.
                if (!Loaded(setting.module))
                    attack.Hang();
                if (CountInLog(Emptied(setting)) > emptied)
                    kept = std::wstring(setting.module) == L"hue" ? 2 : 1;
            }
            else
            {
                const size_t before = CountInLog(L"| Event : ");
                Robustness::WriteHostile(setting.key, setting.value, form);
                const Common::CHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, setting.event));
                ASSERT_TRUE(event.IsValid());
                ::SetEvent(event.Get());
                // Only the bridge module logs the word it woke up to.
                if (std::wstring(setting.module) == L"hue" && !WaitForLogCount(L"| Event : ", before + 1))
                    attack.Hang();
                ::Sleep(200);
            }
            const size_t attached = Attached();
            attack.Lost(static_cast<unsigned>(attached < kept ? kept - attached : 0));
            EXPECT_EQ(kept, attached);
            if (!Restore())
                attack.Hang();
            Finish(attack);
        }
}

// "Debug" is read when the module starts: each form is followed by a
// restart, which detaches every device until the next Load.
TEST_F(NetDevSettings, HostileDebugSwitchIsSurvivedByARestart)
{
    for (const CHostileValue& form : Robustness::HostileNumbers())
    {
        const std::string name = std::string("hue Debug ") + form.form;
        SCOPED_TRACE(name);
        auto attack = Attack("registry (net devices)", name);
        Robustness::WriteHostile(NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::DEBUG_VALUE, form);
        const size_t starts = CountInLog(L"CSmartlightingDeviceManager::Init | END | Result = 0");
        HostEvent(10);
        if (!WaitForLogCount(L"CSmartlightingDeviceManager::Init | END | Result = 0", starts + 1))
            attack.Hang();
        TestEnv::RegDeleteValueW32(NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::DEBUG_VALUE);
        if (!Restore())
            attack.Hang();
        Finish(attack);
    }
}

} // namespace
} // namespace NetDevRobustness
