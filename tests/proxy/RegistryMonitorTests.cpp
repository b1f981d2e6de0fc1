// The monitor threads: devices published while the manager runs, exact key
// matching, one set of monitors per run, no spinning on a missing key, and
// no thread left behind.
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "DeviceManagerNative.h"
#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"

using ProxyTest::CDeviceRegistry;

namespace
{

// Settling pause plus a margin for a loaded machine.
constexpr DWORD kAppearMs = CDeviceManagerNative::SETTLE_MS + 4000;

size_t Count(const std::wstring& text, const std::wstring& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

ULONGLONG ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) { return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
    return ms(kernel) + ms(user);
}

class DeviceMonitors : public ::testing::Test
{
protected:
    CDeviceRegistry m_registry;
};

} // namespace

TEST_F(DeviceMonitors, FirstDevicePublishedLaterIsAddedAndStartsItsMonitor)
{
    const size_t threadsBefore = ProxyTest::ThreadCount();
    CDeviceManagerNative manager;
    EXPECT_EQ(0, manager.Start());
    EXPECT_TRUE(manager.HasDevicesThread());
    EXPECT_FALSE(manager.HasHidThread());

    // The first device comes from another process: the publisher, 32-bit
    // wherever the machine runs it.
    const std::wstring kaleoctl = TestEnv::PairedBinDir() + L"\\kaleoctl.exe";
    ASSERT_TRUE(TestEnv::FileExists(kaleoctl));
    std::string output;
    ASSERT_EQ(0u, TestEnv::RunProcess(kaleoctl,
                                      L"devices publish hid --hardware VID_2F1A&PID_0084&MI_00 "
                                      L"--instance 7&3001&0&0000 --container {C0}",
                                      30000, &output))
        << output;
    EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == 1 && manager.HasHidThread(); }, kAppearMs));
    EXPECT_EQ(1u, manager.CopyRecords().count(0x3001));

    // Now the HID monitor reacts to the next one.
    m_registry.PublishKeyboard(0x3002);
    EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == 2; }, kAppearMs));
    EXPECT_TRUE(TestEnv::WaitFor([&] { return Count(m_registry.LogText(), L"Changes in HID") >= 1; }, kAppearMs));

    EXPECT_EQ(2, manager.Stop());
    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threadsBefore, 2000));
}

TEST_F(DeviceMonitors, FirstLookReactsOnlyToWhatChangedSinceTheScan)
{
    m_registry.PublishKeyboard(0x3101);
    m_registry.PublishBus(L"USB", L"VID_2F1A&PID_0090", L"5&3102&0&1");
    CDeviceManagerNative manager;
    EXPECT_EQ(2, manager.Start());
    ASSERT_TRUE(manager.HasHidThread() && manager.HasUsbThread());
    // A device published while the monitors arm is found all the same.
    m_registry.PublishKeyboard(0x3103);
    EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == 3; }, kAppearMs));
    ::Sleep(CDeviceManagerNative::SETTLE_MS + 500);
    // USB did not change since Start read it: its monitor only watches.
    EXPECT_EQ(0u, Count(m_registry.LogText(), L"Changes in USB"));
    EXPECT_LE(Count(m_registry.LogText(), L"Changes in HID"), 1u);
    EXPECT_EQ(3, manager.Stop());
}

TEST_F(DeviceMonitors, OnlyTheExactKeyPathReacts)
{
    struct
    {
        const wchar_t* path;
        size_t reactions; // "Changes in HID" lines beside the HID monitor's own
    } cases[] = {
        {L"Software\\Vexel Kaleo SDK\\Devices\\HID", 1},
        {L"SOFTWARE\\VEXEL KALEO SDK\\DEVICES\\HID", 0},
        {L"software\\vexel kaleo sdk\\devices\\hid", 0},
    };
    DWORD serial = 0x4000;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(TestEnv::Narrow(c.path));
        m_registry.PublishKeyboard(serial++);
        CDeviceManagerNative manager;
        const int present = manager.Start();
        ASSERT_GT(present, 0);
        ASSERT_TRUE(manager.HasHidThread());
        ::Sleep(CDeviceManagerNative::SETTLE_MS + 300); // the monitor's first look is over
        const size_t before = Count(m_registry.LogText(), L"Changes in HID");

        DWORD status = 0xFFFF;
        std::thread pass([&] { status = manager.MonitorDeviceRegistry(c.path); });
        ::Sleep(200); // both armed before the write
        m_registry.PublishKeyboard(serial++);
        pass.join();
        EXPECT_EQ(0u, status);
        EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == present + 1u; }, kAppearMs));
        ::Sleep(200);
        EXPECT_EQ(before + 1 + c.reactions, Count(m_registry.LogText(), L"Changes in HID"));
        manager.Stop();
    }
}

TEST_F(DeviceMonitors, SecondStartOnlyRescansAndStopEndsEveryThread)
{
    const size_t threadsBefore = ProxyTest::ThreadCount();
    m_registry.PublishKeyboard(0x5001);
    m_registry.PublishBus(L"USB", L"VID_2F1A&PID_0090", L"5&5002&0&1");
    CDeviceManagerNative manager;
    EXPECT_EQ(2, manager.Start());
    const size_t running = ProxyTest::ThreadCount();
    EXPECT_EQ(threadsBefore + 3, running);

    m_registry.PublishKeyboard(0x5003);
    EXPECT_GE(manager.Start(), 0); // the new device, unless a monitor was first
    EXPECT_EQ(running, ProxyTest::ThreadCount());
    EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == 3; }, kAppearMs));

    // The monitors of the first start end with the stop of this run.
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(3, manager.Stop());
    EXPECT_LT(::GetTickCount64() - start, CDeviceManagerNative::STOP_WAIT_MS);
    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threadsBefore, 2000));
}

TEST_F(DeviceMonitors, MissingDevicesKeyIsRetriedWithoutSpinning)
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, DeviceSources::DEVICES_KEY, KEY_WOW64_32KEY, 0);
    ASSERT_FALSE(TestEnv::RegKeyExists(DeviceSources::DEVICES_KEY));
    CDeviceManagerNative manager;
    EXPECT_EQ(0, manager.Start());
    const ULONGLONG cpuBefore = ProcessCpuMs();
    ::Sleep(2000);
    const ULONGLONG cpuMs = ProcessCpuMs() - cpuBefore;
    std::printf("CPU time of 2 s idle with the Devices key absent: %llu ms\n", cpuMs);
    EXPECT_LT(cpuMs, 400u);

    // Once the key exists the monitor watches it.
    m_registry.PublishKeyboard(0x6001);
    EXPECT_TRUE(TestEnv::WaitFor([&] { return manager.RecordCount() == 1; },
                                 CDeviceManagerNative::RETRY_MS + kAppearMs));
    manager.Stop();
}

TEST_F(DeviceMonitors, ManagerDestroyedWithoutStopEndsItsMonitorsFirst)
{
    const size_t threadsBefore = ProxyTest::ThreadCount();
    m_registry.PublishKeyboard(0x7001);
    {
        CDeviceManagerNative manager;
        EXPECT_EQ(1, manager.Start());
        EXPECT_EQ(threadsBefore + 2, ProxyTest::ThreadCount());
    }
    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threadsBefore, 2000));
}
