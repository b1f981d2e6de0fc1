// Shared set-up of the host tests; see HostTestFixture.h.
#include "HostTestFixture.h"

#include <atomic>
#include <sstream>

namespace HostTest
{
namespace
{
constexpr DWORD kStartTimeoutMs = 60000;  // a cold Wine start is slow
}

std::wstring Quote(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring HostExe()
{
    return TestEnv::BinDir() + L"\\VxSvcHost.exe";
}

bool Contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

void CHostFixture::SetUp()
{
    static std::atomic<unsigned> s_counter{0};
    const std::wstring module = TestEnv::BinDir() + L"\\TestModule.dll";
    m_moduleA = m_dir / L"TestModuleA.dll";
    m_moduleB = m_dir / L"TestModuleB.dll";
    ASSERT_TRUE(::CopyFileW(module.c_str(), m_moduleA.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(module.c_str(), m_moduleB.c_str(), FALSE));
    m_callFile = m_dir / L"calls.txt";
    m_outputFile = m_dir / L"host-output.txt";
    ::SetEnvironmentVariableW(L"KALEO_TEST_MODULE_LOG", m_callFile.c_str());
    m_name = L"HostTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(s_counter.fetch_add(1));
}

void CHostFixture::TearDown()
{
    m_host.Kill();
    if (m_groupHost && ::WaitForSingleObject(m_groupHost.Get(), 0) == WAIT_TIMEOUT)
    {
        ::TerminateProcess(m_groupHost.Get(), 1);
        ::WaitForSingleObject(m_groupHost.Get(), 5000);
    }
    m_groupHost.Reset();
    ::SetEnvironmentVariableW(L"KALEO_TEST_MODULE_LOG", nullptr);
    ::SetEnvironmentVariableW(L"KALEO_TEST_UNINIT_RESULT_TestModuleA", nullptr);
    ::SetEnvironmentVariableW(L"KALEO_TEST_UNINIT_RESULT_TestModuleB", nullptr);
}

std::wstring CHostFixture::HostArgs(const std::wstring& eventName, const std::wstring& moduleArgs) const
{
    return L"--name " + m_name + L" --ready-event " + Quote(eventName) + L" " + moduleArgs;
}

::testing::AssertionResult CHostFixture::WaitReady(HANDLE ready, HANDLE process)
{
    HANDLE waits[2] = {ready, process};
    const DWORD wait = ::WaitForMultipleObjects(2, waits, FALSE, kStartTimeoutMs);
    if (wait == WAIT_OBJECT_0)
        return ::testing::AssertionSuccess();
    if (wait == WAIT_OBJECT_0 + 1)
    {
        DWORD code = 0;
        ::GetExitCodeProcess(process, &code);
        return ::testing::AssertionFailure() << "host ended during start with " << code << "\n"
                                             << Output();
    }
    return ::testing::AssertionFailure() << "host not ready in time";
}

::testing::AssertionResult CHostFixture::StartHost(const std::wstring& moduleArgs)
{
    const std::wstring eventName = L"Local\\" + m_name + L"-ready";
    Common::CHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready)
        return ::testing::AssertionFailure() << "cannot create the ready event";
    if (!m_host.Start(HostExe(), HostArgs(eventName, moduleArgs), m_outputFile))
        return ::testing::AssertionFailure() << "cannot start VxSvcHost.exe";
    return WaitReady(ready.Get(), m_host.Handle());
}

::testing::AssertionResult CHostFixture::StartHostInNewGroup(const std::wstring& moduleArgs)
{
    const std::wstring eventName = L"Local\\" + m_name + L"-ready";
    Common::CHandle ready(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    Common::CHandle output(::CreateFileW(m_outputFile.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    Common::CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                        OPEN_EXISTING, 0, nullptr));
    if (!ready || !output || !input)
        return ::testing::AssertionFailure() << "cannot prepare the host's start";
    std::wstring commandLine = Quote(HostExe()) + L" " + HostArgs(eventName, moduleArgs);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input.Get();
    si.hStdOutput = output.Get();
    si.hStdError = output.Get();
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(HostExe().c_str(), buffer.data(), nullptr, nullptr, TRUE,
                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi))
        return ::testing::AssertionFailure() << "cannot start VxSvcHost.exe: " << ::GetLastError();
    Common::CHandle thread(pi.hThread);
    m_groupHost.Reset(pi.hProcess);
    m_groupHostPid = pi.dwProcessId;
    return WaitReady(ready.Get(), m_groupHost.Get());
}

std::vector<CCall> CHostFixture::Calls() const
{
    const std::vector<BYTE> bytes = TestEnv::ReadFileBytes(m_callFile);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::vector<CCall> calls;
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream fields(line);
        CCall call;
        if (fields >> call.module >> call.call >> call.argument >> call.threadId)
            calls.push_back(call);
    }
    return calls;
}

void CHostFixture::ClearCalls() const
{
    ::DeleteFileW(m_callFile.c_str());
}

std::string CHostFixture::Output() const
{
    const std::vector<BYTE> bytes = TestEnv::ReadFileBytes(m_outputFile);
    return std::string(bytes.begin(), bytes.end());
}

std::wstring CHostFixture::HostLog() const
{
    return TestEnv::ReadUtf16File(m_install.LogsDir() + L"\\VxSvcHost.exe.log");
}

} // namespace HostTest
