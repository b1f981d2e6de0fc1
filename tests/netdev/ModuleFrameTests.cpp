// The module frame as the host drives it: service events, the command
// worker, and a stop while a plug-in is still busy in its Init.
#include "NetDevFixture.h"

#include <atomic>
#include <thread>

#include "NetDeviceNames.h"

namespace NetDevTest
{
namespace
{

const wchar_t kHueModule[] = L"VxSmartlightingDeviceManager.dll";
const wchar_t kBridgeId[] = L"001788fffe123abc";
const wchar_t kHueEvent[] = L"Global\\{E1E6E8C5-6E1C-465A-ADB8-3E213B1E2E36}";

class Frame : public CNetDevFixture
{
protected:
    void ConfigureBridge()
    {
        Ctl(L"netdev hue --file \"" + HueConfig() + L"\" --id " + kBridgeId +
            L" --name Bridge --ip 192.168.1.20 --group 1=a,b --selected 1");
    }
};

TEST_F(Frame, ServiceEventsStartAndStopTheManagerWithTheirResults)
{
    ASSERT_TRUE(StartModule(kHueModule));
    struct
    {
        int code;
        const wchar_t* line;
    } const steps[] = {
        {ServiceHost::SERVICE_EVENT_START, L"CSmartlightingDeviceManager::Init | END | Result = 1247"},
        {ServiceHost::SERVICE_EVENT_STOP, L"CSmartlightingDeviceManager::UnInit | END | Result = 4319"},
        {ServiceHost::SERVICE_EVENT_SHUTDOWN, L"CSmartlightingDeviceManager::UnInit | END | Result = 1168"},
        {7, nullptr},
        {ServiceHost::SERVICE_EVENT_START, L"CSmartlightingDeviceManager::Init | END | Result = 0"},
    };
    for (const auto& step : steps)
    {
        const size_t before = step.line ? CountInLog(step.line) : 0;
        EXPECT_EQ(0, m_module.Event(step.code)) << step.code;
        if (step.line)
        {
            EXPECT_EQ(before + 1, CountInLog(step.line)) << step.code;
        }
    }
    EXPECT_EQ(0, m_module.UnInit());
    EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_START)) << "events after the stop find no manager";
    EXPECT_EQ(2u, CountInLog(L"CSmartlightingDeviceManager::Init | END | Result = 0"));
}

TEST_F(Frame, ACommandRunsOnceForOneSignalAndOnlyForItsExactWord)
{
    ConfigureBridge();
    ASSERT_TRUE(StartModule(kHueModule));
    ASSERT_TRUE(Command(L"hue", L"LOAD", L"CSmartlightingDeviceManager::DoPhilipsHue | Event : LOAD"));
    ASSERT_TRUE(Load(L"hue"));
    // kaleoctl leaves the event set: the worker must have consumed it.
    Common::CHandle event(::OpenEventW(SYNCHRONIZE, FALSE, kHueEvent));
    ASSERT_TRUE(event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0));
    ::Sleep(300);
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::UpdateDevices | START")) << "LOAD ran, or Load repeated";

    const DWORD start = ::GetTickCount();
    EXPECT_EQ(0, m_module.UnInit());
    EXPECT_LT(::GetTickCount() - start, 2000u) << "the stop was not seen";
    EXPECT_EQ(1u, CountCalls(Journal(), "UnInit", "Hue"));
}

// "Debug" is read when the manager starts: 1 turns the content dump on
// until the next start, whatever the value becomes meanwhile, and a start
// that finds no value keeps the last one.
TEST_F(Frame, TheDebugSwitchIsReadAtStart)
{
    const std::wstring key = NetDevice::SMARTLIGHTING_SETTINGS_KEY;
    ConfigureBridge();
    TestEnv::RegWriteDword(key, NetDevice::DEBUG_VALUE, 1);
    ASSERT_TRUE(StartModule(kHueModule));
    struct
    {
        int debug;  // written before the step; -1: value removed, -2: left as it is
        bool restart;
        size_t dumps;  // content lines after the step's Load
    } const steps[] = {
        {-2, false, 1}, {0, false, 2}, {-2, true, 2}, {1, false, 2}, {-2, true, 3}, {-1, true, 4},
    };
    int n = 0;
    for (const auto& step : steps)
    {
        if (step.debug == -1)
            TestEnv::RegDeleteValueW32(key, NetDevice::DEBUG_VALUE);
        else if (step.debug >= 0)
            TestEnv::RegWriteDword(key, NetDevice::DEBUG_VALUE, static_cast<DWORD>(step.debug));
        if (step.restart)
        {
            EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_RESTART));
        }
        ASSERT_TRUE(Load(L"hue")) << n;
        EXPECT_EQ(step.dumps, CountInLog(L"CSmartlightingDeviceManager::GetDevicesInfo | {\"Bridges\"")) << n;
        ++n;
    }
}

// A signaller that sets the command event again during every command
// cannot hold off the stop: the worker looks at the stop event first.
TEST_F(Frame, AStopWinsOverACommandEventSetAgainDuringEveryCommand)
{
    ConfigureBridge();
    ASSERT_TRUE(StartModule(kHueModule));
    ASSERT_TRUE(Load(L"hue"));
    Common::CHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kHueEvent));
    ASSERT_TRUE(event);
    std::atomic<bool> signalling{true};
    std::thread signaller([&] {
        while (signalling)
        {
            ::SetEvent(event.Get());
            ::Sleep(0);
        }
    });
    EXPECT_TRUE(WaitForLogCount(L"CSmartlightingDeviceManager::UpdateDevices | END", 4));
    EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_STOP));
    signalling = false;
    signaller.join();
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::DoPhilipsHue thread shutting down."));
    EXPECT_EQ(0u, CountInLog(L"the worker is still busy"));
    EXPECT_EQ(1u, CountCalls(Journal(), "UnInit", "Hue"));
}

// A plug-in whose Init outlasts the stop's wait (1000 ms) does not hold up
// the host: the stop returns while Init still runs, and the worker detaches
// the device once Init returns, whether the host stopped through event 2
// or unloaded the module.
TEST_F(Frame, AStopDuringAHungInitReturnsAndTheWorkerDetachesTheDeviceLater)
{
    ConfigureBridge();
    WritePluginControl(TestEnv::Narrow(kBridgeId) + " 0 2500\n");
    for (const bool unload : {false, true})
    {
        SCOPED_TRACE(unload ? "UnInitServiceModule" : "event 2");
        ::DeleteFileW((m_install.InstallPath() + L"\\PluginJournal.txt").c_str());
        ASSERT_TRUE(StartModule(kHueModule));
        Ctl(L"netdev send hue Load");
        ASSERT_TRUE(WaitForLogCount(L"CSmartlightingDeviceManager::AddDevice | START", unload ? 2 : 1));

        const size_t parked = CountInLog(L"the worker is still busy after 1000 ms");
        EXPECT_EQ(0, unload ? m_module.UnInit() : m_module.Event(ServiceHost::SERVICE_EVENT_STOP));
        EXPECT_TRUE(Journal().empty()) << "the stop waited for Init";
        EXPECT_EQ(parked + 1, CountInLog(L"the worker is still busy after 1000 ms"));
        // A start while the worker is busy is refused, also by a new
        // InitServiceModule.
        EXPECT_EQ(0, unload ? m_module.Init() : m_module.Event(ServiceHost::SERVICE_EVENT_START));
        EXPECT_EQ(unload ? 2u : 1u, CountInLog(L"CSmartlightingDeviceManager::Init | END | Result = 170"));
        if (unload)
        {
            EXPECT_EQ(0, m_module.UnInit());
            m_module.Unload();
        }

        ASSERT_TRUE(WaitForLogCount(L"the worker has finished the stop", unload ? 2 : 1));
        const auto journal = Journal();
        ASSERT_EQ(2u, journal.size());
        EXPECT_EQ("Init", journal[0].call);
        EXPECT_EQ("0", journal[0].Field("result"));
        EXPECT_EQ("UnInit", journal[1].call);
        EXPECT_EQ(journal[0].Field("module"), journal[1].Field("module"));
        EXPECT_TRUE(Copies().empty());
        if (!unload)
        {
            EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_START));
            EXPECT_EQ(2u, CountInLog(L"CSmartlightingDeviceManager::Init | END | Result = 0"));
            EXPECT_EQ(0, m_module.UnInit());
            m_module.Unload();
        }
    }
}

TEST_F(Frame, TheRealHostRunsBothModulesBesideTheAppManagerAndItsStopDetachesAll)
{
    m_logName = L"VxSvcHost.exe.log";
    ConfigureBridge();
    Ctl(L"netdev iot add --file \"" + IoTList() + L"\" --mac aa:bb:cc:dd:ee:01 --pid 1025 --ip 10.0.0.1");
    Ctl(L"netdev iot add --file \"" + IoTList() + L"\" --mac aa:bb:cc:dd:ee:02 --pid 1025 --ip 10.0.0.2");
    const std::wstring bin = TestEnv::BinDir() + L"\\";
    TestEnv::CChildProcess host;
    ASSERT_TRUE(host.Start(bin + L"VxSvcHost.exe", L"--name NetDevHost \"" + bin + L"VxAppManager.dll\" \"" + bin +
                                                       L"VxSmartlightingDeviceManager.dll\" \"" + bin +
                                                       L"VxIoTDeviceManager.dll\""));
    Ctl(L"host wait --name NetDevHost --timeout 30000");
    ASSERT_TRUE(Load(L"hue"));
    ASSERT_TRUE(Load(L"iot"));
    EXPECT_EQ(3u, Copies().size());

    Ctl(L"host stop --name NetDevHost");
    EXPECT_EQ(0u, host.Wait(30000));
    const auto journal = Journal();
    EXPECT_EQ(1u, CountCalls(journal, "UnInit", "Hue"));
    EXPECT_EQ(2u, CountCalls(journal, "UnInit", "IoT"));
    EXPECT_TRUE(Copies().empty());
}

} // namespace
} // namespace NetDevTest
