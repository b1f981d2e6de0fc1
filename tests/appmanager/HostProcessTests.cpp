// The module under the real host process, driven from other processes.
#include <gtest/gtest.h>
#include <windows.h>

#include "AppData.h"
#include "DeviceCatalog.h"
#include "HostControl.h"
#include "TestEnv.h"

using namespace TestEnv;

namespace
{
const wchar_t kAppsKey[] = L"Software\\Vexel Kaleo SDK\\Apps";
const wchar_t kHostName[] = L"AppManagerTests";

std::wstring Quote(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

bool CopyInto(const std::wstring& folder, const wchar_t* name, const std::wstring& as = std::wstring())
{
    return ::CopyFileW((BinDir() + L"\\" + name).c_str(), (folder + L"\\" + (as.empty() ? name : as)).c_str(),
                       FALSE) != 0;
}

size_t CountOf(const std::wstring& text, const std::wstring& what)
{
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + 1))
        ++count;
    return count;
}

class HostProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(kAppsKey);
        RegWriteString(kAppsKey, L"PriorityList", L"");
    }

    // Starts exe with the app-manager module; waits until its control pipe answers.
    void StartHost(const std::wstring& exe, const std::wstring& module)
    {
        ASSERT_TRUE(m_host.Start(exe, std::wstring(L"--name ") + kHostName + L" " + Quote(module),
                                 m_scratch / L"host.txt"));
        ASSERT_TRUE(Host::WaitForHost(kHostName, 30000)) << "host did not come up";
    }

    DWORD Kaleoctl(const std::wstring& args, std::string* output = nullptr)
    {
        return RunProcess(BinDir() + L"\\kaleoctl.exe", args, 30000, output);
    }

    std::wstring HostLog(const std::wstring& name = L"VxSvcHost.exe.log")
    {
        return ReadUtf16File(m_install.LogsDir() + L"\\" + name);
    }

    CInstallFixture m_install;
    CScratchDir m_scratch;
    CChildProcess m_host;
};
} // namespace

TEST_F(HostProcess, StopFromAnotherProcessEndsEveryThreadAndReleasesTheTable)
{
    StartHost(BinDir() + L"\\VxSvcHost.exe", BinDir() + L"\\VxAppManager.dll");
    {
        Common::CHandle table(::OpenFileMappingW(FILE_MAP_READ, FALSE, Common::APP_TABLE_NAME));
        EXPECT_TRUE(table.IsValid()) << "the running module holds the shared app table";
    }

    std::string output;
    EXPECT_EQ(0u, Kaleoctl(std::wstring(L"host stop --name ") + kHostName, &output)) << output;
    EXPECT_EQ(0u, m_host.Wait(15000)) << "host did not exit cleanly";

    const std::wstring log = HostLog();
    EXPECT_NE(std::wstring::npos, log.find(L"[AppData] File created and mapped successfully"));
    EXPECT_NE(std::wstring::npos, log.find(L"UnInitServiceModule(VxAppManager.dll) returned 0"));
    // With the only holder gone, the section is gone: nothing kept it open.
    Common::CHandle table(::OpenFileMappingW(FILE_MAP_READ, FALSE, Common::APP_TABLE_NAME));
    EXPECT_FALSE(table.IsValid());
}

TEST_F(HostProcess, ServiceEventsFromAnotherProcessAreAnsweredWithZero)
{
    StartHost(BinDir() + L"\\VxSvcHost.exe", BinDir() + L"\\VxAppManager.dll");
    for (const wchar_t* code : {L"1", L"2", L"3", L"10", L"4294967295"})
    {
        std::string output;
        EXPECT_EQ(0u, Kaleoctl(std::wstring(L"host event ") + code + L" --name " + kHostName, &output)) << output;
        EXPECT_NE(std::string::npos, output.find("VxAppManager.dll=0")) << output;
    }
    EXPECT_EQ(0u, Kaleoctl(std::wstring(L"host stop --name ") + kHostName));
    EXPECT_EQ(0u, m_host.Wait(15000));
}

// The host and the module in it log into one file named after the
// executable, spaces dropped.
TEST_F(HostProcess, ExecutableWithSpacesLogsIntoNameWithoutThem)
{
    const std::wstring folder = m_scratch / L"My App";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyInto(folder, L"VxSvcHost.exe", L"My Host.exe"));
    ASSERT_TRUE(CopyInto(folder, L"VxAppManager.dll"));
    StartHost(folder + L"\\My Host.exe", folder + L"\\VxAppManager.dll");
    EXPECT_EQ(0u, Kaleoctl(std::wstring(L"host stop --name ") + kHostName));
    EXPECT_EQ(0u, m_host.Wait(15000));

    const std::wstring log = HostLog(L"MyHost.exe.log");
    EXPECT_NE(std::wstring::npos, log.find(L"[VxSvcHost] Stopped")) << "host's own lines";
    EXPECT_EQ(1u, CountOf(log, L"[AppData] File created and mapped successfully")) << "module's lines";
    EXPECT_FALSE(FileExists(m_install.LogsDir() + L"\\My Host.exe.log"));
}

TEST(OperatorInstall, PreparesTheMachineAsTheInstallerDoes)
{
    CInstallFixture restore;
    CScratchDir scratch;
    const std::wstring path = scratch / L"Kaleo SDK";
    std::string output;
    ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"install --path " + Quote(path), 30000, &output))
        << output;

    std::wstring installPath;
    ASSERT_TRUE(RegReadString(kRootKey, L"InstallPath", installPath));
    EXPECT_EQ(path, installPath);
    EXPECT_TRUE(FileExists(path + L"\\Logs"));
    EXPECT_TRUE(FileExists(path + L"\\bin"));
    EXPECT_TRUE(RegKeyExists(kAppsKey));

    Common::CDeviceCatalog catalog;
    ASSERT_EQ(0u, catalog.Load(path));
    std::vector<std::wstring> plugins;
    ASSERT_EQ(0u, catalog.FindPlugins(769, plugins));
    ASSERT_EQ(1u, plugins.size());
    EXPECT_EQ(path + L"\\bin\\KaleoHuePlugin.dll", plugins[0]);

    // Installing again over an existing install succeeds and keeps the Apps key.
    RegWriteString(kAppsKey, L"PriorityList", L"game.exe");
    ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"install --path " + Quote(path), 30000));
    std::wstring list;
    EXPECT_TRUE(RegReadString(kAppsKey, L"PriorityList", list));
    EXPECT_EQ(L"game.exe", list);
}

TEST(OperatorLog, PrintsTheModuleLogAsText)
{
    CInstallFixture install;
    const wchar_t line[] = L"2026-01-01,00:00:00:000,INFO,,[Test] hello\r\n";
    WriteFileBytes(install.LogsDir() + L"\\VxSvcHost.exe.log", line, sizeof(line) - sizeof(wchar_t));
    std::string output;
    ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"log", 30000, &output));
    EXPECT_EQ("2026-01-01,00:00:00:000,INFO,,[Test] hello\n", output);
}
