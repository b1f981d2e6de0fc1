#pragma once
// Shared set-up of the host tests: two copies of the test module in a scratch
// folder, a file they record their calls in, an install folder for the log,
// and a host process that is killed at the end if it still runs.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "HostControl.h"
#include "TestEnv.h"

namespace HostTest
{

// One line of the test module's record.
struct CCall
{
    std::string module;
    std::string call;
    int argument = 0;
    DWORD threadId = 0;
};

std::wstring Quote(const std::wstring& text);
std::wstring HostExe();
bool Contains(const std::wstring& text, const std::wstring& part);
bool Contains(const std::string& text, const std::string& part);

class CHostFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the host with --name and --ready-event and waits until it has
    // initialised every module.
    ::testing::AssertionResult StartHost(const std::wstring& moduleArgs);
    // The same, as the first process of a new process group sharing this
    // process's console (for console control events). Its handle is in
    // m_groupHost.
    ::testing::AssertionResult StartHostInNewGroup(const std::wstring& moduleArgs);
    std::vector<CCall> Calls() const;
    void ClearCalls() const;
    std::string Output() const;   // the host's standard output
    std::wstring HostLog() const; // its log file, InstallPath\Logs\VxSvcHost.exe.log

    TestEnv::CInstallFixture m_install;
    TestEnv::CScratchDir m_dir;
    std::wstring m_moduleA;
    std::wstring m_moduleB;
    std::wstring m_callFile;
    std::wstring m_outputFile;
    std::wstring m_name;
    Common::CHandle m_groupHost;
    DWORD m_groupHostPid = 0;
    TestEnv::CChildProcess m_host;  // declared last: ends before the folders go

private:
    std::wstring HostArgs(const std::wstring& eventName, const std::wstring& moduleArgs) const;
    ::testing::AssertionResult WaitReady(HANDLE ready, HANDLE process);
};

} // namespace HostTest
