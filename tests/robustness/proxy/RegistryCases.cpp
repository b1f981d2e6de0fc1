// Every value the proxy reads from the device sources, written by another
// process in a form it does not expect, then read by a rescan (the Init a
// host may call again) and by the registry monitor. The table stays sound:
// what was known and attached stays, and a valid device published
// afterwards is found.
#include "ProxyRig.h"

#include "Attack.h"
#include "DeviceSources.h"
#include "HostileValues.h"
#include "TestEnv.h"
#include "VxKaleoSDKNative.h"

namespace ProxyRobustness
{
namespace
{

using Robustness::CHostileValue;

const std::wstring kHid = DeviceSources::HID_KEY;
const std::wstring kUsb = DeviceSources::USB_KEY;
const std::wstring kHue = std::wstring(DeviceSources::SMART_LIGHTING_KEY) + L"\\" + DeviceSources::PHILIPS_HUE_NAME;
const std::wstring kApp = std::wstring(DeviceSources::BROADCAST_APPS_KEY) + L"\\Hostile";

struct CLocation
{
    const char* name;
    std::wstring key;
    const wchar_t* value;
    bool text;
};

const CLocation kLocations[] = {
    {"HID ContainerId", kHid + L"\\VID_2F1A&PID_0084&MI_00\\7&AB00&0&0000", DeviceSources::CONTAINER_ID_VALUE, true},
    {"USB ContainerId", kUsb + L"\\VID_2F1A&PID_0090\\5&AB01&0&1", DeviceSources::CONTAINER_ID_VALUE, true},
    {"Hue Path", kHue, DeviceSources::HUE_PATH_VALUE, true},
    {"Hue bulbsId", kHue, DeviceSources::HUE_BULBS_VALUE, true},
    {"broadcast Pid", kApp, DeviceSources::BROADCAST_PID_VALUE, false},
    {"broadcast Index", kApp, DeviceSources::BROADCAST_INDEX_VALUE, false},
    {"broadcast DeviceSupported", kApp, DeviceSources::BROADCAST_SUPPORTED_VALUE, false},
    {"DebugProxy", DeviceSources::DEVICES_KEY, DeviceSources::DEBUG_PROXY_VALUE, false},
};

// Key names of the greatest length the registry takes, in every source
// whose names become device paths.
struct CLongNames
{
    const char* name;
    std::wstring key;
};

const std::wstring kLong(255, L'N');
const CLongNames kLongNames[] = {
    {"HID names of 255 characters", kHid + L"\\" + kLong + L"\\" + kLong},
    {"HID instance of 255 characters", kHid + L"\\VID_2F1A&PID_0084&MI_00\\7&" + std::wstring(253, L'F')},
    {"USB names of 255 characters", kUsb + L"\\VID_2F1A&PID_0090&" + std::wstring(237, L'M') + L"\\" + kLong},
    {"IoT names of 255 characters", std::wstring(DeviceSources::IOT_KEY) + L"\\" + kLong + L"\\" + kLong},
    {"broadcast app of 255 characters", std::wstring(DeviceSources::BROADCAST_APPS_KEY) + L"\\" + kLong},
};

class DeviceSourceRegistry : public CProxyRig
{
protected:
    DeviceSourceRegistry() : CProxyRig(2) {}

    // Rescan, monitor pass and a valid device afterwards; the ledger's checks.
    void ReadAndCheck(Robustness::CAttack& attack)
    {
        ProxyInit();
        if (!Found() || !Served(m_attached[0]))
            attack.Hang();
        attack.Lost(Lost());
    }
};

TEST_F(DeviceSourceRegistry, HostileValuesLeaveTheTableSoundAndNewDevicesAreFound)
{
    // The values beside the attacked one are sound.
    const DWORD pid = ::GetCurrentProcessId(), index = 3, supported = 0x21;
    for (const CLocation& location : kLocations)
    {
        const auto& forms = location.text ? Robustness::HostileTexts() : Robustness::HostileNumbers();
        for (const CHostileValue& form : forms)
        {
            const std::string name = std::string(location.name) + " " + form.form;
            SCOPED_TRACE(name);
            Robustness::CAttack attack("registry (devices)", name);
            if (location.key == kApp)
            {
                m_registry.PublishBroadcast(L"Hostile", pid, index, supported);
            }
            if (location.key == kHue)
            {
                m_registry.SetHue(L"bridge", L"3,7");
            }
            Robustness::WriteHostile(location.key, location.value, form);
            ReadAndCheck(attack);
            TestEnv::RegDeleteValueW32(location.key, location.value);
            attack.Finish();
        }
    }
}

TEST_F(DeviceSourceRegistry, KeyNamesOfTheGreatestLengthLeaveTheTableSound)
{
    for (const CLongNames& names : kLongNames)
    {
        SCOPED_TRACE(names.name);
        Robustness::CAttack attack("registry (devices)", names.name);
        ProxyTest::CDeviceRegistry::CreateKey(names.key);
        ReadAndCheck(attack);
        attack.Finish();
    }
}

} // namespace
} // namespace ProxyRobustness
