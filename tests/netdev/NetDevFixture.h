#pragma once
// A network device manager module loaded into the test process as the
// service host loads it, an install folder holding the sample plug-ins and
// their catalogue, and kaleoctl as the commanding process.
#include <windows.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Handles.h"
#include "ServiceEntry.h"
#include "TestEnv.h"

namespace NetDevTest
{

// One line of the plug-ins' journal: the call ("Init", "UnInit") and its
// key=value fields.
struct CJournalLine
{
    std::string call;
    std::map<std::string, std::string> fields;
    std::string Field(const std::string& key) const;
};

// The three exports of a service module, loaded from the build's bin.
class CServiceModuleDll
{
public:
    ::testing::AssertionResult Load(const std::wstring& fileName);
    int Init() const { return m_init(0); }
    int Event(int code) const { return m_event(code); }
    int UnInit() const { return m_uninit(0); }
    void Unload() { m_module.Reset(); }
    bool IsLoaded() const { return m_module.IsValid(); }

private:
    using PFN_ENTRY = ServiceHost::PFN_SERVICE_ENTRY;
    Common::CModule m_module;
    PFN_ENTRY m_init = nullptr;
    PFN_ENTRY m_event = nullptr;
    PFN_ENTRY m_uninit = nullptr;
};

class CNetDevFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads and starts one module ("VxSmartlightingDeviceManager.dll" or
    // "VxIoTDeviceManager.dll").
    ::testing::AssertionResult StartModule(const std::wstring& fileName);
    // Runs kaleoctl with the arguments; fails the test on a non-zero exit.
    std::string Ctl(const std::wstring& args, DWORD expectedExit = 0);
    // Sends a command word through kaleoctl and waits until the module has
    // logged `doneLine` once more than before.
    ::testing::AssertionResult Command(const std::wstring& module, const std::wstring& word,
                                       const std::wstring& doneLine);
    ::testing::AssertionResult Load(const std::wstring& module);

    // Catalogue lines (<device .../> elements) written as Devices.xml.
    void WriteCatalogue(const std::string& entries) const;
    // Lines of PluginControl.txt ("<identifier> <result> [delayMs]").
    void WritePluginControl(const std::string& lines) const;

    std::wstring Log() const;
    size_t CountInLog(const std::wstring& part) const;
    ::testing::AssertionResult WaitForLogCount(const std::wstring& part, size_t count, DWORD timeoutMs = 20000) const;
    std::vector<CJournalLine> Journal() const;
    // .mod files in InstallPath\bin.
    std::vector<std::wstring> Copies() const;

    std::wstring Bin() const { return m_install.InstallPath() + L"\\bin"; }
    std::wstring HueConfig() const { return m_dir / L"hue.cfg"; }
    std::wstring IoTList() const { return m_dir / L"iot.cfg"; }

    TestEnv::CInstallFixture m_install;
    TestEnv::CScratchDir m_dir;
    CServiceModuleDll m_module;
    // The log the modules write: the loading process's.
    std::wstring m_logName = L"NetDeviceTests.exe.log";
};

// Counts the journal lines of a call ("Init" with result=0 counts as an
// attach) for one plug-in kind.
size_t CountCalls(const std::vector<CJournalLine>& journal, const std::string& call, const std::string& plugin,
                  const std::string& result = std::string());

} // namespace NetDevTest
