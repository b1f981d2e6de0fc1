// A host that unloads a device manager without UnInitServiceModule, and
// then exits. The module's statics then go inside DLL_PROCESS_DETACH, under
// the loader lock: nothing may wait for the worker there, and no plug-in
// may be called. The host is this executable started with kChildFlag.
#include "NetDevFixture.h"

#include <cwchar>

#include "NetDeviceNames.h"
#include "Registry.h"

namespace NetDevTest
{
namespace
{

const wchar_t kChildFlag[] = L"--netdev-unload-without-uninit";
const wchar_t kLoadDone[] = L"CSmartlightingDeviceManager::UpdateDevices | END";

// Loads and starts the module, has it attach the configured bridge, then
// unloads it without UnInitServiceModule and exits: 0 done, 2 no module,
// 3 the Load did not end.
struct CUnloadingHost
{
    CUnloadingHost()
    {
        if (std::wcsstr(::GetCommandLineW(), kChildFlag) == nullptr)
            return;
        CServiceModuleDll module;
        if (!module.Load(L"VxSmartlightingDeviceManager.dll") || module.Init() != 0)
            ::ExitProcess(2);
        std::wstring installPath;
        Common::GetInstallPath(installPath);
        const std::wstring log = installPath + L"\\Logs\\NetDeviceTests.exe.log";
        Common::RegSetString(NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::EVENT_VALUE, L"Load");
        Common::CHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, NetDevice::SMARTLIGHTING_COMMAND_EVENT));
        if (event)
            ::SetEvent(event.Get());
        if (!TestEnv::WaitFor([&] { return TestEnv::ReadUtf16File(log).find(kLoadDone) != std::wstring::npos; },
                              20000))
            ::ExitProcess(3);
        module.Unload();
        ::ExitProcess(0);
    }
} g_unloadingHost;

class Unload : public CNetDevFixture
{
};

TEST_F(Unload, WithoutUnInitTheModuleNeitherWaitsNorCallsAPluginUnderTheLoaderLock)
{
    Ctl(L"netdev hue --file \"" + HueConfig() +
        L"\" --id 001788fffe123abc --name B --ip 1.2.3.4 --group 1=a --selected 1");
    TestEnv::CChildProcess host;
    ASSERT_TRUE(host.Start(TestEnv::BinDir() + L"\\NetDeviceTests.exe", kChildFlag));
    EXPECT_EQ(0u, host.Wait(30000)) << "the unloading host hung or failed";
    const auto journal = Journal();
    EXPECT_EQ(1u, CountCalls(journal, "Init", "Hue", "0"));
    EXPECT_EQ(0u, CountCalls(journal, "UnInit", "Hue")) << "a plug-in was called from DllMain";
}

} // namespace
} // namespace NetDevTest
