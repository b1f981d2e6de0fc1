// The module frame as the host drives it: service events, the command
// worker, and a stop while a plug-in is still busy in its Init.
#include "NetDevFixture.h"

namespace NetDevTest
{
namespace
{

const wchar_t kHueModule[] = L"VxSmartlightingDeviceManager.dll";
const wchar_t kBridgeId[] = L"001788fffe123abc";

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
        {1, L"CSmartlightingDeviceManager::Init | END | Result = 1247"},
        {2, L"CSmartlightingDeviceManager::UnInit | END | Result = 4319"},
        {3, L"CSmartlightingDeviceManager::UnInit | END | Result = 1168"},
        {7, nullptr},
        {1, L"CSmartlightingDeviceManager::Init | END | Result = 0"},
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
    EXPECT_EQ(0, m_module.Event(1)) << "events after the stop find no manager";
    EXPECT_EQ(2u, CountInLog(L"CSmartlightingDeviceManager::Init | END | Result = 0"));
}

TEST_F(Frame, ACommandRunsOnceForOneSignalAndOnlyForItsExactWord)
{
    ConfigureBridge();
    ASSERT_TRUE(StartModule(kHueModule));
    ASSERT_TRUE(Command(L"hue", L"LOAD", L"CSmartlightingDeviceManager::DoPhilipsHue | Event : LOAD"));
    ASSERT_TRUE(Load(L"hue"));
    // kaleoctl leaves the event set: the worker must have consumed it.
    Common::CHandle event(::OpenEventW(SYNCHRONIZE, FALSE, L"Global\\{E1E6E8C5-6E1C-465A-ADB8-3E213B1E2E36}"));
    ASSERT_TRUE(event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(event.Get(), 0));
    ::Sleep(300);
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::UpdateDevices | START")) << "LOAD ran, or Load repeated";

    const DWORD start = ::GetTickCount();
    EXPECT_EQ(0, m_module.UnInit());
    EXPECT_LT(::GetTickCount() - start, 2000u) << "the stop was not seen";
    EXPECT_EQ(1u, CountCalls(Journal(), "UnInit", "Hue"));
}

TEST_F(Frame, AStopDuringASlowInitWaitsAndDetachesTheDeviceOnce)
{
    ConfigureBridge();
    WritePluginControl(TestEnv::Narrow(kBridgeId) + " 0 1500\n");
    ASSERT_TRUE(StartModule(kHueModule));
    Ctl(L"netdev send hue Load");
    ASSERT_TRUE(WaitForLogCount(L"CSmartlightingDeviceManager::AddDevice | START", 1));

    EXPECT_EQ(0, m_module.UnInit());
    const auto journal = Journal();
    ASSERT_EQ(2u, journal.size());
    EXPECT_EQ("Init", journal[0].call);
    EXPECT_EQ("0", journal[0].Field("result"));
    EXPECT_EQ("UnInit", journal[1].call);
    EXPECT_EQ(journal[0].Field("module"), journal[1].Field("module"));
    EXPECT_TRUE(Copies().empty());
    EXPECT_EQ(1u, CountInLog(L"the worker is still busy after 1000 ms"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::UnInit | END | Result = 0"));
    m_module.Unload();
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
