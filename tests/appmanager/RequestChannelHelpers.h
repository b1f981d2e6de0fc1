#pragma once
// Pieces of the request channel tests: a manager that records what its
// channels asked of it, raw clients of the ring and the pipe, and a fixture
// with a running manager, a scratch folder and the operator tool.
#include <gtest/gtest.h>
#include <windows.h>
#include <map>
#include <string>
#include <vector>

#include "AppManagerTestSupport.h"
#include "RequestChannel.h"

namespace ChannelTest
{

// Milliseconds on a steady clock finer than the tick count.
double NowMs();

// One call the channels made on the manager.
struct CCall
{
    enum Kind { REGISTER_PID, REGISTER_BLOCK, UNREGISTER } kind;
    DWORD pid;
    BOOL result;
    double atMs;  // NowMs() when the call came in
    std::wstring title, description, author, contact;
    DWORD devices, category;
};

// The manager with its request operations recorded on their way in.
class CRecordingManager : public CAppManager
{
public:
    using CAppManager::Register;
    ~CRecordingManager() override { UnInit(); }  // no call may arrive half destroyed

    BOOL Register(const _REGISTERDATATYPE* data) override;
    BOOL Register(DWORD processId) override;
    BOOL Unregister(DWORD processId) override;

    std::vector<CCall> Calls() const;
    // Waits until at least n calls arrived; false on time-out.
    bool WaitForCalls(size_t n, DWORD timeoutMs) const;

private:
    void Add(const CCall& call);
    mutable Common::CRecursiveLock m_callsLock;
    std::vector<CCall> m_calls;
};

// The request ring, mapped by the test as a client (or a hostile writer).
class CTestRing
{
public:
    CTestRing();  // opens the ring; fails the test when it does not exist
    AppRequests::_REQUESTRING* Ring() const { return static_cast<AppRequests::_REQUESTRING*>(m_view.Get()); }
    DWORD Index() const;
    void SetIndex(DWORD index);
    // Writes the slot at the write index and advances it, as a client does;
    // returns the slot written.
    DWORD Push(DWORD pid, DWORD request);
    static void Pulse();

private:
    Common::CHandle m_mapping;
    Common::CMappedView m_view;
};

_REGISTERDATATYPE MakeBlock(DWORD pid, DWORD request, const wchar_t* title = L"");

// Opens the control pipe (waiting for a free instance up to timeoutMs).
Common::CHandle OpenControlPipe(DWORD timeoutMs);
// Writes one message into the control pipe; waits until it has been read.
bool SendPipeMessage(const void* data, DWORD size, DWORD timeoutMs = 15000);

// A stand-in app that registers and holds its registration: a copy of the
// operator tool under a name of its own, printing into a file.
struct CHeldApp
{
    TestEnv::CChildProcess process;
    std::wstring name;
    std::wstring output;
    // Starts it registering through the ring or the pipe.
    bool Start(const TestEnv::CScratchDir& folder, bool ring);
    std::string Output() const;
    // Waits until it says it is registered.
    bool WaitRegistered(DWORD timeoutMs) const;
};

// A running recording manager in this process, a scratch folder for stand-in
// executables, the module's log and the shared table as others see it.
class CChannelFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Copy of a build output (kaleoctl.exe, IdleApp.exe) under another name.
    std::wstring CopyAs(const wchar_t* binary, const std::wstring& name);
    // Runs kaleoctl (or a copy of it) to its end; output into *output.
    DWORD RunTool(const std::wstring& exe, const std::wstring& args, std::string* output = nullptr,
                  DWORD timeoutMs = 30000);
    DWORD Kaleoctl(const std::wstring& args, std::string* output = nullptr);
    std::wstring Log() const;
    bool WaitForLog(const std::wstring& text, DWORD timeoutMs, size_t times = 1) const;
    // Calls of a kind for a pid.
    size_t CallsOf(CCall::Kind kind, DWORD pid) const;
    // One registration of pid through a channel, served in time.
    bool RegisterThroughPipe(DWORD pid);
    bool RegisterThroughRing(DWORD pid);
    // Registers a live process through each channel and lets it die, so the
    // module's lazily made objects exist before handles are counted.
    void WarmUp();
    // count held apps (app00.exe, ...), not started yet.
    std::vector<CHeldApp> HeldApps(int count);
    // count held apps started at once: even ones register through the
    // pipe, odd ones through the ring.
    std::vector<CHeldApp> StartHeldApps(int count);
    // Rows 1..count hold exactly the expected pids, each once, with its name.
    void ExpectTableHolds(const std::map<DWORD, std::wstring>& expected);

    AppTest::CAppsInstall m_install;
    TestEnv::CScratchDir m_scratch;
    std::unique_ptr<CRecordingManager> m_manager;
    AppTest::CTableView m_table;
};

} // namespace ChannelTest
