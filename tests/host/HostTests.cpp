// VxSvcHost as a process: module order, the main-thread rule, the clean stop
// from another process, and start-up failures.
#include "HostTestFixture.h"

#include <memory>

namespace
{

using HostTest::CCall;
using HostTest::Contains;
using HostTest::Quote;

constexpr DWORD kCommandTimeoutMs = 10000;
constexpr DWORD kExitTimeoutMs = 30000;

void ExpectCall(const CCall& call, const char* module, const char* what, int argument)
{
    EXPECT_EQ(module, call.module);
    EXPECT_EQ(what, call.call);
    EXPECT_EQ(argument, call.argument);
}

std::unique_ptr<Host::_HOSTREPLY> Transact(const std::wstring& name, const wchar_t* command,
                                           DWORD& status)
{
    auto reply = std::make_unique<Host::_HOSTREPLY>();
    Host::_HOSTREQUEST request{};
    status = Host::ParseHostCommand(command, request);
    if (status == ERROR_SUCCESS)
        status = Host::HostTransact(name, request, *reply, kCommandTimeoutMs);
    return reply;
}

} // namespace

using HostLifecycle = HostTest::CHostFixture;
using HostStartup = HostTest::CHostFixture;

TEST_F(HostLifecycle, InitEventStopFollowModuleOrderOnTheMainThread)
{
    ASSERT_TRUE(StartHost(Quote(m_moduleA) + L" " + Quote(m_moduleB)));
    std::vector<CCall> calls = Calls();
    ASSERT_EQ(2u, calls.size());
    ExpectCall(calls[0], "TestModuleA.dll", "init", 0);
    ExpectCall(calls[1], "TestModuleB.dll", "init", 0);
    const DWORD mainThread = calls[0].threadId;
    EXPECT_EQ(mainThread, calls[1].threadId);

    DWORD status = 0;
    auto reply = Transact(m_name, L"event 7", status);
    ASSERT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ(ERROR_SUCCESS, reply->status);
    EXPECT_EQ(static_cast<DWORD>(Host::HOST_CMD_EVENT), reply->command);
    ASSERT_EQ(2u, reply->moduleCount);
    EXPECT_EQ(701, reply->results[0]);
    EXPECT_EQ(702, reply->results[1]);
    EXPECT_EQ(mainThread, reply->mainThreadId);
    EXPECT_EQ(m_host.Pid(), reply->processId);

    // The reply came after both calls had returned, both on the main thread.
    calls = Calls();
    ASSERT_EQ(4u, calls.size());
    ExpectCall(calls[2], "TestModuleA.dll", "event", 7);
    ExpectCall(calls[3], "TestModuleB.dll", "event", 7);
    EXPECT_EQ(mainThread, calls[2].threadId);
    EXPECT_EQ(mainThread, calls[3].threadId);

    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"stop", text, kCommandTimeoutMs));
    EXPECT_EQ(0u, m_host.Wait(kExitTimeoutMs));

    // Reverse order, each module freed (not merely torn down with the process).
    calls = Calls();
    ASSERT_EQ(8u, calls.size());
    ExpectCall(calls[4], "TestModuleB.dll", "uninit", 0);
    ExpectCall(calls[5], "TestModuleA.dll", "uninit", 0);
    EXPECT_EQ(mainThread, calls[4].threadId);
    EXPECT_EQ(mainThread, calls[5].threadId);
    ExpectCall(calls[6], "TestModuleB.dll", "detach-free", 0);
    ExpectCall(calls[7], "TestModuleA.dll", "detach-free", 0);

    const std::string output = Output();
    EXPECT_TRUE(Contains(output, "[VxSvcHost] Loaded")) << output;
    EXPECT_TRUE(Contains(output, "[VxSvcHost] InitServiceModule(TestModuleB.dll) returned 0")) << output;
    EXPECT_TRUE(Contains(output, "[VxSvcHost] Stopped")) << output;
    const std::wstring log = HostLog();
    EXPECT_TRUE(Contains(log, L"[VxSvcHost] Loaded " + m_moduleA));
    EXPECT_TRUE(Contains(log, L"[VxSvcHost] InitServiceModule(TestModuleA.dll) returned 0"));
    EXPECT_TRUE(Contains(log, L"[VxSvcHost] Stopped"));
}

TEST_F(HostLifecycle, StatusDescribesTheRunningHost)
{
    ASSERT_TRUE(StartHost(Quote(m_moduleA) + L" " + Quote(m_moduleB)));
    DWORD status = 0;
    auto reply = Transact(m_name, L"status", status);
    ASSERT_EQ(ERROR_SUCCESS, status);
    EXPECT_EQ(ERROR_SUCCESS, reply->status);
    EXPECT_EQ(m_host.Pid(), reply->processId);
    EXPECT_EQ(2u, reply->moduleCount);
    EXPECT_EQ(3u, reply->runningMask);
    const std::wstring text = reply->text;
    EXPECT_TRUE(Contains(text, m_moduleA)) << TestEnv::Narrow(text);
    EXPECT_TRUE(Contains(text, m_moduleB)) << TestEnv::Narrow(text);
    EXPECT_TRUE(Contains(text, std::to_wstring(m_host.Pid()))) << TestEnv::Narrow(text);
    // A status request reaches no module.
    EXPECT_EQ(2u, Calls().size());
}

TEST_F(HostLifecycle, ModuleWhoseStopFailedStaysLoaded)
{
    // Its threads may still run its code: unloading it would crash the host.
    ::SetEnvironmentVariableW(L"KALEO_TEST_UNINIT_RESULT_TestModuleB", L"5");
    ASSERT_TRUE(StartHost(Quote(m_moduleA) + L" " + Quote(m_moduleB)));
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"stop", text, kCommandTimeoutMs));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), m_host.Wait(kExitTimeoutMs));
    const std::vector<CCall> calls = Calls();
    ASSERT_EQ(6u, calls.size());
    ExpectCall(calls[2], "TestModuleB.dll", "uninit", 0);
    ExpectCall(calls[3], "TestModuleA.dll", "uninit", 0);
    ExpectCall(calls[4], "TestModuleA.dll", "detach-free", 0);
    ExpectCall(calls[5], "TestModuleB.dll", "detach-exit", 0);
}

TEST_F(HostStartup, BadCommandLinesExitNonZeroAfterUnloading)
{
    std::string output;
    // A module that does not exist: the one loaded before it is unloaded, none initialised.
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND),
              TestEnv::RunProcess(HostTest::HostExe(),
                                  L"--name " + m_name + L" " + Quote(m_moduleA) + L" " +
                                      Quote(m_dir / L"Missing.dll"),
                                  kExitTimeoutMs, &output));
    EXPECT_TRUE(Contains(output, "Missing.dll")) << output;
    std::vector<CCall> calls = Calls();
    ASSERT_EQ(1u, calls.size());
    ExpectCall(calls[0], "TestModuleA.dll", "detach-free", 0);

    // A library without the three exports.
    ClearCalls();
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND),
              TestEnv::RunProcess(HostTest::HostExe(),
                                  L"--name " + m_name + L" " + Quote(m_moduleA) + L" version.dll",
                                  kExitTimeoutMs, &output));
    EXPECT_TRUE(Contains(output, "version.dll lacks")) << output;
    calls = Calls();
    ASSERT_EQ(1u, calls.size());
    ExpectCall(calls[0], "TestModuleA.dll", "detach-free", 0);

    // Command lines that are wrong before anything loads.
    ClearCalls();
    const std::wstring bad[] = {
        L"",
        L"--name " + m_name,
        L"--bogus " + Quote(m_moduleA),
        L"--name bad\\name " + Quote(m_moduleA),
        L"--name " + std::wstring(65, L'n') + L" " + Quote(m_moduleA),
        L"--name",
        Quote(std::wstring(300, L'x') + L".dll"),
    };
    for (const std::wstring& args : bad)
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
                  TestEnv::RunProcess(HostTest::HostExe(), args, kExitTimeoutMs))
            << TestEnv::Narrow(args);
    std::wstring seventeen = L"--name " + m_name;
    for (int i = 0; i < 17; ++i)
        seventeen += L" " + Quote(m_moduleA);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              TestEnv::RunProcess(HostTest::HostExe(), seventeen, kExitTimeoutMs));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(HostStartup, SecondHostWithTheSameNameIsRefused)
{
    ASSERT_TRUE(StartHost(Quote(m_moduleA)));
    std::string output;
    const DWORD code = TestEnv::RunProcess(
        HostTest::HostExe(), L"--name " + m_name + L" " + Quote(m_moduleB), kExitTimeoutMs, &output);
    EXPECT_NE(0u, code);
    EXPECT_NE(static_cast<DWORD>(STILL_ACTIVE), code);
    EXPECT_TRUE(Contains(output, "Cannot create")) << output;
    // The second one never initialised its module; the first one still serves.
    const std::vector<CCall> calls = Calls();
    ASSERT_EQ(2u, calls.size());
    ExpectCall(calls[0], "TestModuleA.dll", "init", 0);
    ExpectCall(calls[1], "TestModuleB.dll", "detach-free", 0);
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"status", text, kCommandTimeoutMs));
    EXPECT_EQ(STILL_ACTIVE, m_host.Wait(0));
}

namespace
{
// Gives this process a console of its own for the host to share, and ignores
// Ctrl+C here while it exists; puts the standard handles back afterwards.
class CTestConsole
{
public:
    CTestConsole()
        : m_in(::GetStdHandle(STD_INPUT_HANDLE)),
          m_out(::GetStdHandle(STD_OUTPUT_HANDLE)),
          m_err(::GetStdHandle(STD_ERROR_HANDLE))
    {
        ::FreeConsole();
        m_ok = ::AllocConsole() != FALSE;
        ::SetConsoleCtrlHandler(nullptr, TRUE);
    }
    ~CTestConsole()
    {
        ::FreeConsole();
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::SetStdHandle(STD_INPUT_HANDLE, m_in);
        ::SetStdHandle(STD_OUTPUT_HANDLE, m_out);
        ::SetStdHandle(STD_ERROR_HANDLE, m_err);
    }
    CTestConsole(const CTestConsole&) = delete;
    CTestConsole& operator=(const CTestConsole&) = delete;
    bool IsOk() const { return m_ok; }

private:
    HANDLE m_in;  // not owned: the process's standard handles
    HANDLE m_out;
    HANDLE m_err;
    bool m_ok = false;
};
} // namespace

class HostConsole : public HostTest::CHostFixture
{
protected:
    // Sends the control event to the host's process group; false when the
    // system refused to deliver it.
    void StopWith(DWORD ctrlEvent, const char* reason)
    {
        CTestConsole console;
        ASSERT_TRUE(console.IsOk()) << "no console: " << ::GetLastError();
        ASSERT_TRUE(StartHostInNewGroup(Quote(m_moduleA) + L" " + Quote(m_moduleB)));
        if (!::GenerateConsoleCtrlEvent(ctrlEvent, m_groupHostPid))
        {
            m_refused = ::GetLastError();
            return;
        }
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(m_groupHost.Get(), kExitTimeoutMs));
        DWORD code = 1;
        ::GetExitCodeProcess(m_groupHost.Get(), &code);
        EXPECT_EQ(0u, code);

        // The same clean stop as from the pipe, on the main thread, not on
        // the thread the console handler runs on.
        const std::vector<CCall> calls = Calls();
        ASSERT_EQ(6u, calls.size());
        ExpectCall(calls[2], "TestModuleB.dll", "uninit", 0);
        ExpectCall(calls[3], "TestModuleA.dll", "uninit", 0);
        EXPECT_EQ(calls[0].threadId, calls[2].threadId);
        EXPECT_EQ(calls[0].threadId, calls[3].threadId);
        ExpectCall(calls[4], "TestModuleB.dll", "detach-free", 0);
        ExpectCall(calls[5], "TestModuleA.dll", "detach-free", 0);
        const std::string output = Output();
        EXPECT_TRUE(Contains(output, std::string("[VxSvcHost] Stop requested (") + reason + ")")) << output;
        EXPECT_TRUE(Contains(output, "[VxSvcHost] Stopped")) << output;
    }

    DWORD m_refused = 0;
};

TEST_F(HostConsole, CtrlCStopsCleanly)
{
    StopWith(CTRL_C_EVENT, "Ctrl+C");
    EXPECT_EQ(0u, m_refused) << "Ctrl+C could not be sent";
}

TEST_F(HostConsole, CtrlBreakStopsCleanly)
{
    StopWith(CTRL_BREAK_EVENT, "Ctrl+Break");
    if (m_refused != 0)
        GTEST_SKIP() << "this system does not deliver Ctrl+Break to a process group (error "
                     << m_refused << "); Wine 8 delivers Ctrl+C only";
}
