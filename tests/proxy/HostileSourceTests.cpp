// Device sources that other processes filled with junk: nothing may crash,
// hang or overrun, and the sound devices beside the junk are still added.
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

#include "DeviceManagerNative.h"
#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"

using ProxyTest::CBroadcastPresence;
using ProxyTest::CDeviceRegistry;

namespace
{

const std::wstring kHidKey = DeviceSources::HID_KEY;
const std::wstring kHueKey = std::wstring(DeviceSources::SMART_LIGHTING_KEY) + L"\\PhilipsHue";
const std::wstring kAppKey = std::wstring(DeviceSources::BROADCAST_APPS_KEY) + L"\\Junk";

struct CHostileCase
{
    const char* name;
    std::function<void(const CDeviceRegistry&)> write;
    int expected; // devices added by Start, beside the junk
    const wchar_t* containerId; // of keyboard 0x1234 when it is expected
};

void WriteText(const std::wstring& key, const wchar_t* name, const std::wstring& text)
{
    CDeviceRegistry::WriteValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

const std::vector<CHostileCase>& Cases()
{
    static const std::vector<CHostileCase> cases = {
        {"ContainerId of the wrong type",
         [](const CDeviceRegistry& r) {
             const DWORD value = 7;
             CDeviceRegistry::WriteValue(kHidKey + L"\\VID_2F1A&PID_0084&MI_00\\7&1234&0&0000",
                                         DeviceSources::CONTAINER_ID_VALUE, REG_DWORD, &value, sizeof(value));
         },
         1, L""},
        {"ContainerId of 10,000 characters",
         [](const CDeviceRegistry& r) {
             WriteText(kHidKey + L"\\VID_2F1A&PID_0084&MI_00\\7&1234&0&0000", DeviceSources::CONTAINER_ID_VALUE,
                       std::wstring(10000, L'C'));
         },
         1, L""},
        {"names of the maximum length",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             const std::wstring longName(255, L'N');
             r.PublishBus(L"HID", longName, longName);
             r.PublishBus(L"HID", L"VID_2F1A&PID_0084&" + std::wstring(237, L'M'), L"7&ABC&" + std::wstring(249, L'0'));
             r.PublishIoT(std::wstring(255, L'P'), std::wstring(255, L'I'));
         },
         // The long keyboard instance still reads as a key.
         2, L"{OK}"},
        {"thousands of subkeys",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             for (int i = 0; i < 3000; ++i)
                 CDeviceRegistry::CreateKey(kHidKey + L"\\Empty" + std::to_wstring(i));
         },
         1, L"{OK}"},
        {"bulbsId of a megabyte",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             WriteText(kHueKey, DeviceSources::HUE_PATH_VALUE, L"bridge");
             std::wstring bulbs;
             while (bulbs.size() < 512 * 1024)
                 bulbs += L"12345,";
             WriteText(kHueKey, DeviceSources::HUE_BULBS_VALUE, bulbs);
         },
         1, L"{OK}"},
        {"bulbsId of junk",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             WriteText(kHueKey, DeviceSources::HUE_PATH_VALUE, L"bridge");
             const BYTE junk[] = {0xFF, 0xFE, 0x00, 0xD8, 0x41};
             CDeviceRegistry::WriteValue(kHueKey, DeviceSources::HUE_BULBS_VALUE, REG_SZ, junk, sizeof(junk));
         },
         1, L"{OK}"},
        {"broadcast values of the wrong type",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             WriteText(kAppKey, DeviceSources::BROADCAST_PID_VALUE, L"1234");
             const ULONGLONG wide = 0x21;
             CDeviceRegistry::WriteValue(kAppKey, DeviceSources::BROADCAST_SUPPORTED_VALUE, REG_QWORD, &wide,
                                         sizeof(wide));
             const BYTE index[] = {1};
             CDeviceRegistry::WriteValue(kAppKey, DeviceSources::BROADCAST_INDEX_VALUE, REG_BINARY, index, 1);
         },
         1, L"{OK}"},
        {"a catalogue that is huge",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             r.WriteCatalogue(ProxyTest::RepeatedCatalogue(5 * 1024 * 1024));
         },
         0, nullptr},
        {"a catalogue that is malformed",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             r.WriteCatalogue("<devices><device pid=\"0x0084\" file=");
         },
         0, nullptr},
        {"no catalogue",
         [](const CDeviceRegistry& r) {
             r.PublishKeyboard(0x1234, L"{OK}");
             ::DeleteFileW((r.InstallPath() + L"\\Devices.xml").c_str());
         },
         0, nullptr},
    };
    return cases;
}

} // namespace

TEST(DeviceSourceJunk, StartSurvivesJunkAndAddsTheSoundDevices)
{
    for (const auto& c : Cases())
    {
        SCOPED_TRACE(c.name);
        CDeviceRegistry registry;
        CBroadcastPresence broadcast;
        c.write(registry);
        CDeviceManagerNative manager;
        EXPECT_EQ(c.expected, manager.Start());
        const DeviceTable table = manager.CopyRecords();
        if (c.containerId)
        {
            const auto it = table.find(0x1234);
            ASSERT_NE(table.end(), it);
            EXPECT_EQ(c.containerId, it->second.containerId);
        }
        EXPECT_EQ(c.expected, manager.Stop());
    }
}
