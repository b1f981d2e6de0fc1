// One walk over the device sources for the proxy and for kaleoctl: every
// device a source publishes is listed by "kaleoctl devices list" exactly as
// the proxy adds it (key, object, pipe, plug-in), or left out by both.
#include <gtest/gtest.h>
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

#include "DeviceManagerNative.h"
#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"
#include "Handles.h"
#include "TestEnv.h"

using ProxyTest::CBroadcastPresence;
using ProxyTest::CDeviceRegistry;

namespace
{

// The presence mutex with a DACL that lets anyone only wait on it: it
// exists, but opening it with MUTEX_ALL_ACCESS is refused.
class CGuardedPresence
{
public:
    CGuardedPresence()
    {
        BYTE sid[SECURITY_MAX_SID_SIZE] = {};
        DWORD sidSize = sizeof(sid);
        BYTE acl[256] = {};
        SECURITY_DESCRIPTOR descriptor = {};
        if (!::CreateWellKnownSid(WinWorldSid, nullptr, sid, &sidSize) ||
            !::InitializeAcl(reinterpret_cast<ACL*>(acl), sizeof(acl), ACL_REVISION) ||
            !::AddAccessAllowedAce(reinterpret_cast<ACL*>(acl), ACL_REVISION, SYNCHRONIZE, sid) ||
            !::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
            !::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl), FALSE))
        {
            ADD_FAILURE() << "security descriptor: " << ::GetLastError();
            return;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
        m_mutex.Reset(::CreateMutexW(&attributes, FALSE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
        EXPECT_TRUE(m_mutex.IsValid());
    }

private:
    Common::CHandle m_mutex;
};

// The lines of one device in the list: those indented below "  <title>".
std::wstring Block(const std::wstring& list, const std::wstring& title)
{
    const size_t at = list.find(L"\n  " + title + L"\n");
    if (at == std::wstring::npos)
        return std::wstring();
    size_t end = list.find(L'\n', at + 1);
    while (end != std::wstring::npos && list.compare(end + 1, 4, L"    ") == 0)
        end = list.find(L'\n', end + 1);
    return list.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at);
}

std::wstring Hex8(DWORD key)
{
    wchar_t text[40] = {};
    ::_snwprintf(text, 39, L"0x%08lX (%lu)", key, key);
    return text;
}

struct CExpected
{
    std::wstring title; // of its block in the list
    DWORD key;
    bool added;
};

struct CSourceCase
{
    const char* name;
    std::function<void(const CDeviceRegistry&)> publish;
    enum class EService { None, Running, AccessDenied } service;
    std::vector<CExpected> devices;
    const wchar_t* serviceLine; // a part of the list's service line; null: not checked
};

int ScanAll(CDeviceManagerNative& manager)
{
    return manager.EnumerateBus(DeviceSources::BUS_HID) + manager.EnumerateBus(DeviceSources::BUS_USB) +
           manager.AddSmartLightingDevices() + manager.AddBroadcastDevices() + manager.AddIoTDevices();
}

} // namespace

TEST(SourceScan, KaleoctlListsEveryDeviceAsTheProxyAddsIt)
{
    using EService = CSourceCase::EService;
    const CSourceCase cases[] = {
        {"hid keyboard", [](const CDeviceRegistry& r) { r.PublishKeyboard(0x2A0F4C5); }, EService::None,
         {{L"VID_2F1A&PID_0084&MI_00\\7&2A0F4C5&0&0000", 0x2A0F4C5, true}}, nullptr},
        {"usb device",
         [](const CDeviceRegistry& r) { r.PublishBus(L"USB", L"VID_2F1A&PID_0090", L"5&1234ABCD&0&1"); },
         EService::None, {{L"VID_2F1A&PID_0090\\5&1234ABCD&0&1", 0x1234ABCD, true}}, nullptr},
        {"hue bulbs", [](const CDeviceRegistry& r) { r.SetHue(L"bridge", L"3,7"); }, EService::None,
         {{L"bulb 3", 3013, true}, {L"bulb 7", 3017, true}}, nullptr},
        {"broadcast, service running",
         [](const CDeviceRegistry& r) { r.PublishBroadcast(L"Connect", 1234, 2, 0x21); }, EService::Running,
         {{L"Connect: pid 770 device (DeviceSupported 0x20)", 3022, true},
          {L"Connect: pid 818 device (DeviceSupported 0x01)", 3322, true}},
         L"service    running (Global\\{48D72353-C43A-48FB-8AAA-31D9D768E492} exists)"},
        {"broadcast, presence mutex not to be opened",
         [](const CDeviceRegistry& r) { r.PublishBroadcast(L"Connect", 1234, 2, 0x21); }, EService::AccessDenied,
         {{L"Connect: pid 770 device (DeviceSupported 0x20)", 3022, true},
          {L"Connect: pid 818 device (DeviceSupported 0x01)", 3322, true}},
         L"service    running (Global\\{48D72353-C43A-48FB-8AAA-31D9D768E492} exists, access denied)"},
        {"iot light", [](const CDeviceRegistry& r) { r.PublishIoT(L"PID_0F07", L"0123456789ABCDEF"); },
         EService::None, {{L"PID_0F07\\0123456789ABCDEF", 0x12345678, true}}, nullptr},
        {"not in the catalogue",
         [](const CDeviceRegistry& r) { r.PublishBus(L"HID", L"VID_2F1A&PID_0077", L"5&77&0&1"); },
         EService::None, {{L"VID_2F1A&PID_0077\\5&77&0&1", 0x77, false}}, nullptr},
        {"broadcast, no service",
         [](const CDeviceRegistry& r) { r.PublishBroadcast(L"Connect", 1234, 2, 0x20); }, EService::None,
         {{L"Connect: pid 770 device (DeviceSupported 0x20)", 3022, false}}, L"service    not running (no "},
        {"hue bridge not paired", [](const CDeviceRegistry& r) { r.SetHue(L"", L"5"); }, EService::None,
         {{L"bulb 5", 3015, false}}, nullptr},
    };
    for (const CSourceCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        CDeviceRegistry registry;
        c.publish(registry);
        std::unique_ptr<CBroadcastPresence> running;
        std::unique_ptr<CGuardedPresence> guarded;
        if (c.service == EService::Running)
            running.reset(new CBroadcastPresence);
        if (c.service == EService::AccessDenied)
        {
            guarded.reset(new CGuardedPresence);
            Common::CHandle opened(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
            ASSERT_FALSE(opened.IsValid());
            ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
        }

        CDeviceManagerNative manager;
        size_t added = 0;
        for (const CExpected& device : c.devices)
            added += device.added ? 1 : 0;
        EXPECT_EQ(static_cast<int>(added), ScanAll(manager));
        const DeviceTable table = manager.CopyRecords();

        std::string output;
        ASSERT_EQ(0u, TestEnv::RunProcess(TestEnv::BinDir() + L"\\kaleoctl.exe", L"devices list", 30000, &output))
            << output;
        const std::wstring list = TestEnv::Widen(output);
        if (c.serviceLine)
        {
            const size_t at = list.find(L"\n  service    ");
            const std::wstring line =
                at == std::wstring::npos ? std::wstring() : list.substr(at, list.find(L'\n', at + 1) - at);
            EXPECT_NE(std::wstring::npos, line.find(c.serviceLine)) << output;
        }
        for (const CExpected& device : c.devices)
        {
            const std::wstring block = Block(list, device.title);
            ASSERT_FALSE(block.empty()) << TestEnv::Narrow(device.title) << "\nin:\n" << output;
            EXPECT_NE(std::wstring::npos, block.find(L"key        " + Hex8(device.key))) << TestEnv::Narrow(block);
            const auto record = table.find(device.key);
            ASSERT_EQ(device.added, record != table.end()) << TestEnv::Narrow(block);
            if (!device.added)
            {
                EXPECT_NE(std::wstring::npos, block.find(L"proxy      does not add it: ")) << TestEnv::Narrow(block);
                continue;
            }
            const DeviceRecord& proxy = record->second;
            for (const std::wstring& line :
                 {L"object     " + proxy.objectName + L"  (device mutex Global\\" + proxy.objectName + L")\n",
                  L"pipe       " + proxy.pipeName + L"\n", L"plug-in    " + proxy.pluginPath + L"\n",
                  std::wstring(L"proxy      adds it\n")})
                EXPECT_NE(std::wstring::npos, block.find(line))
                    << TestEnv::Narrow(line) << "\nin:\n" << TestEnv::Narrow(block);
        }
        manager.Stop();
    }
}
