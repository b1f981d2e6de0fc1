// The device table built from the registry sources: counts, the records'
// derived names, one record per device under concurrent adds, and sources
// written with junk by other processes.
#include <gtest/gtest.h>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "DeviceKeys.h"
#include "DeviceManagerNative.h"
#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"

using ProxyTest::CBroadcastPresence;
using ProxyTest::CDeviceRegistry;

namespace
{

class DeviceTableBuild : public ::testing::Test
{
protected:
    DWORD KeyOf(const std::wstring& path) const
    {
        DWORD key = 0;
        EXPECT_TRUE(DeviceIdentity::MakeDeviceKey(path.c_str(), key)) << TestEnv::Narrow(path);
        return key;
    }
    const DeviceRecord* Find(const DeviceTable& table, DWORD key) const
    {
        const auto it = table.find(key);
        return it == table.end() ? nullptr : &it->second;
    }

    CDeviceRegistry m_registry;
    CDeviceManagerNative m_manager;
};

} // namespace

TEST_F(DeviceTableBuild, StartCountsEverySourceAndStartsOnlyTheMonitorsItNeeds)
{
    m_registry.PublishKeyboard(0x2A0F4C5);
    m_registry.PublishKeyboard(0x2A0F4C6);
    m_registry.SetHue(L"bridge", L"5");
    m_registry.PublishBroadcast(L"Lights", 1234, 1, 0x21); // no broadcast service runs
    m_registry.PublishIoT(L"PID_0F07", L"0123456789ABCDEF");

    EXPECT_EQ(4, m_manager.Start());
    EXPECT_TRUE(m_manager.HasHidThread());
    EXPECT_FALSE(m_manager.HasUsbThread());
    EXPECT_TRUE(m_manager.HasDevicesThread());

    const DeviceTable table = m_manager.CopyRecords();
    EXPECT_EQ(4u, table.size());
    EXPECT_TRUE(Find(table, 0x2A0F4C5));
    EXPECT_TRUE(Find(table, 3015));
    EXPECT_TRUE(Find(table, 0x12345678)); // the IoT id cut to 0123456789ABCD

    EXPECT_EQ(4, m_manager.Stop());
    EXPECT_EQ(0u, m_manager.RecordCount());
    EXPECT_FALSE(m_manager.HasHidThread());
    EXPECT_FALSE(m_manager.HasUsbThread());
    EXPECT_FALSE(m_manager.HasDevicesThread());
}

TEST_F(DeviceTableBuild, RecordsCarryObjectPipeAndPluginOfTheFirstMatchingEntry)
{
    m_registry.WriteCatalogue("<devices><a pid=\"0x0099\" file=\"First.dll\"/>"
                              "<b pid=\"0x0084\" file=\"Keyboard.dll\"/><c pid=\"132\" file=\"Second.dll\"/>"
                              "<d pid=\"0x0301\"/></devices>");
    m_registry.PublishBus(L"HID", L"VID_2F1A&PID_0084&MI_00", L"7&2A0F4C5&0&0000", L"{C1}");
    m_registry.SetHue(L"bridge", L"3,7");
    CBroadcastPresence broadcast;
    m_registry.PublishBroadcast(L"Lights", 1234, 2, 0x21);
    ASSERT_EQ(5, m_manager.Start());

    const DeviceTable table = m_manager.CopyRecords();
    const DeviceRecord* keyboard = Find(table, 0x2A0F4C5);
    ASSERT_TRUE(keyboard);
    EXPECT_EQ(L"\\\\?\\HID#VID_2F1A&PID_0084&MI_00#7&2A0F4C5&0&0000#", keyboard->devicePath);
    EXPECT_EQ(L"\\\\.\\pipe\\HID#VID_2F1A&PID_0084&MI_00#7&2A0F4C5&0&0000#", keyboard->pipeName);
    EXPECT_EQ(L"7&2A0F4C5&0&0000", keyboard->objectName);
    EXPECT_EQ(L"{C1}", keyboard->containerId);
    EXPECT_EQ(0x84u, keyboard->pid);
    EXPECT_EQ(m_registry.InstallPath() + L"\\bin\\Keyboard.dll", keyboard->pluginPath);

    // Bulbs 3 and 7; an entry without "file" gives the bare bin folder.
    for (DWORD bulb : {3u, 7u})
    {
        const DeviceRecord* hue = Find(table, 3010 + bulb);
        ASSERT_TRUE(hue) << bulb;
        EXPECT_EQ(L"\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}" + std::to_wstring(bulb), hue->pipeName);
        EXPECT_EQ(m_registry.InstallPath() + L"\\bin\\", hue->pluginPath);
        EXPECT_EQ(L"", hue->containerId);
    }
    // One application supporting both kinds: keys 3022 and 3322, each with
    // the catalogue's first entry whatever its pid.
    for (DWORD key : {3022u, 3322u})
    {
        const DeviceRecord* app = Find(table, key);
        ASSERT_TRUE(app) << key;
        EXPECT_EQ(m_registry.InstallPath() + L"\\bin\\First.dll", app->pluginPath);
    }
    EXPECT_EQ(L"\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}2", Find(table, 3022)->pipeName);
    EXPECT_EQ(L"\\\\.\\pipe\\{5054F1BB-5F54-494C-9CC4-35F99D9E31BF}2", Find(table, 3322)->pipeName);
}

TEST_F(DeviceTableBuild, BroadcastApplicationsCountOnlyWhileTheServiceRuns)
{
    m_registry.PublishBroadcast(L"Running", 1234, 2, 0x21);
    m_registry.PublishBroadcast(L"Stopped", 0, 4, 0x21);
    EXPECT_EQ(0, m_manager.AddBroadcastDevices());
    {
        CBroadcastPresence broadcast;
        EXPECT_EQ(2, m_manager.AddBroadcastDevices());
        EXPECT_EQ(0, m_manager.AddBroadcastDevices()); // seen again: no second record
    }
    EXPECT_EQ(0, m_manager.AddBroadcastDevices());
    EXPECT_EQ(2u, m_manager.RecordCount()); // records added before stay
}

TEST_F(DeviceTableBuild, KeyThatIsNoNumberAddsNothingAndCannotBeRemoved)
{
    m_registry.PublishBus(L"HID", L"VID_2F1A&PID_0084&MI_00", L"7&2A0F4C5"); // a single "&"
    m_registry.PublishKeyboard(0x1111);
    EXPECT_EQ(1, m_manager.EnumerateBus(L"HID"));
    EXPECT_EQ(ERROR_FUNCTION_FAILED, m_manager.RemoveDevice(L"\\\\?\\HID#VID_2F1A&PID_0084&MI_00#7&2A0F4C5#"));
    EXPECT_EQ(1u, m_manager.RecordCount());
    EXPECT_EQ(ERROR_SUCCESS, m_manager.RemoveDevice(CDeviceRegistry::KeyboardPath(0x1111)));
    EXPECT_EQ(ERROR_FUNCTION_FAILED, m_manager.RemoveDevice(CDeviceRegistry::KeyboardPath(0x1111)));
}

TEST_F(DeviceTableBuild, DeviceAddedByManyThreadsAtOnceGetsOneRecord)
{
    constexpr int kDevices = 40;
    constexpr int kThreads = 4;
    for (int i = 0; i < kDevices; ++i)
        m_registry.PublishKeyboard(0x1000 + i);

    for (int round = 0; round < 5; ++round)
    {
        std::atomic<int> ready{0};
        std::atomic<int> added{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                ++ready;
                while (ready < kThreads)
                    std::this_thread::yield();
                for (int i = 0; i < kDevices; ++i)
                    if (m_manager.AddDevice(CDeviceRegistry::KeyboardPath(0x1000 + i), L"{C0}") == ERROR_SUCCESS)
                        ++added;
            });
        for (auto& thread : threads)
            thread.join();
        EXPECT_EQ(kDevices, added.load()) << "round " << round;
        EXPECT_EQ(static_cast<size_t>(kDevices), m_manager.RecordCount());
        EXPECT_EQ(kDevices, m_manager.Stop());
    }
}

TEST_F(DeviceTableBuild, CatalogueIsReadOncePerChangeOfTheFile)
{
    for (int i = 0; i < 30; ++i)
        m_registry.PublishKeyboard(0x2000 + i);
    m_registry.PublishBus(L"USB", L"VID_2F1A&PID_0090", L"5&AB&0&1");
    EXPECT_EQ(31, m_manager.Start());
    EXPECT_EQ(1, m_manager.Catalog().LoadCount());

    // A catalogue without the USB entry: the next add reads it.
    m_registry.WriteCatalogue("<devices><device pid=\"0x0084\" file=\"Keyboard.dll\"/></devices>");
    m_manager.Stop();
    EXPECT_EQ(30, m_manager.Start());
    EXPECT_EQ(2, m_manager.Catalog().LoadCount());
    m_manager.Stop();
}
