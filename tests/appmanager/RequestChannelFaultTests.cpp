// The request channels against clients that misbehave and against a stop
// at any moment: none may stop, hang or mislead a server.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RequestChannelHelpers.h"

using namespace ChannelTest;
using namespace TestEnv;
using AppTest::CIdleApp;

namespace
{
class RequestChannelFaults : public CChannelFixture
{
protected:
    bool RegisterThroughPipe(DWORD pid)
    {
        const _REGISTERDATATYPE block = MakeBlock(pid, 1);
        return SendPipeMessage(&block, sizeof(block)) &&
               WaitFor([&] { return CallsOf(CCall::REGISTER_BLOCK, pid) == 1; }, 8000);
    }
    bool RegisterThroughRing(DWORD pid)
    {
        return Kaleoctl(L"app register --ring --no-wait --pid " + std::to_wstring(pid)) == 0 &&
               WaitFor([&] { return CallsOf(CCall::REGISTER_PID, pid) == 1; }, 8000);
    }
    // Stops the manager; returns how long that took.
    double StopManager()
    {
        const double start = NowMs();
        m_manager->UnInit();
        return NowMs() - start;
    }
};

bool PipeExists()
{
    return ::WaitNamedPipeW(Common::CONTROL_PIPE_NAME, 0) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
}
} // namespace

TEST_F(RequestChannelFaults, StopWhileBothServersWaitEndsThemPromptly)
{
    ::Sleep(300);  // both threads are in their waits by now
    EXPECT_LT(StopManager(), 1500.0);
    EXPECT_FALSE(PipeExists());
    const std::wstring log = Log();
    EXPECT_NE(std::wstring::npos, log.find(L"[AppManager] [END] DoMonitorRegister | result = 0"));
    EXPECT_NE(std::wstring::npos, log.find(L"[AppManager] [END] DoMonitorRegister2"));
    EXPECT_EQ(0u, m_manager->PendingTasks()) << "stop watchers left running";
}

// A client that connected and sends nothing holds the pipe thread in its
// read: the stop still ends it at once.
TEST_F(RequestChannelFaults, StopWhileAClientSendsNothingEndsPromptly)
{
    Common::CHandle silent = OpenControlPipe(5000);
    ASSERT_TRUE(silent.IsValid());
    ::Sleep(200);
    EXPECT_LT(StopManager(), 1500.0);
    EXPECT_EQ(0u, m_manager->PendingTasks());
    EXPECT_TRUE(m_manager->Calls().empty());
}

// Another process keeps a silent connection, one closes at once, one sends
// too much and stays: each is dropped, the next client is served.
TEST_F(RequestChannelFaults, BadPipeClientsAreDroppedAndTheNextOneServed)
{
    Common::CHandle silent = OpenControlPipe(5000);
    ASSERT_TRUE(silent.IsValid());
    OpenControlPipe(5000).Reset();  // queued behind the silent one, gone at once
    CIdleApp app;
    const double start = NowMs();
    ASSERT_TRUE(RegisterThroughPipe(app.Pid()));
    EXPECT_LT(NowMs() - start, 6000.0) << "the silent client held the server too long";
    EXPECT_TRUE(WaitForLog(L"Control pipe client sent nothing within", 1000));
    DWORD written = 0;
    const _REGISTERDATATYPE late = MakeBlock(app.Pid(), 1);
    EXPECT_FALSE(::WriteFile(silent.Get(), &late, sizeof(late), &written, nullptr))
        << "the silent client should have been disconnected";

    std::vector<BYTE> tooLong(3601, 0);
    Common::CHandle talker = OpenControlPipe(5000);
    ASSERT_TRUE(talker.IsValid());
    ::WriteFile(talker.Get(), tooLong.data(), static_cast<DWORD>(tooLong.size()), &written, nullptr);
    CIdleApp next;
    ASSERT_TRUE(RegisterThroughPipe(next.Pid()));
    EXPECT_EQ(2u, m_table.Pids().size());
}

// Clients that rush every new pipe instance connect before the server waits
// for them (ERROR_PIPE_CONNECTED): those are served like any other.
TEST_F(RequestChannelFaults, ClientConnectedBeforeTheServerWaitsIsServed)
{
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::vector<std::thread> rushers;
    for (int i = 0; i < 4; ++i)
    {
        rushers.emplace_back([&] {
            const BYTE junk = 0;
            while (!stop)
            {
                Common::CHandle pipe(::CreateFileW(Common::CONTROL_PIPE_NAME, GENERIC_WRITE, 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
                DWORD written = 0;
                if (pipe && ::WriteFile(pipe.Get(), &junk, 1, &written, nullptr))
                    ++sent;
            }
        });
    }
    const bool early = WaitForLog(L"Control pipe client connected before the wait", 8000);
    stop = true;
    for (std::thread& rusher : rushers)
        rusher.join();
    EXPECT_TRUE(early) << "no client connected early in " << sent << " tries";
    EXPECT_EQ(std::wstring::npos, Log().find(L"Error (535)")) << "ERROR_PIPE_CONNECTED treated as a failure";

    CIdleApp app;
    EXPECT_TRUE(RegisterThroughPipe(app.Pid()));
}

// Another process (here: the test through its own mapping) writes write
// indexes no slot has, with and without a wake-up. The server repairs the
// index, says so, and serves the next correct request.
TEST_F(RequestChannelFaults, RingIndexOutOfRangeIsRepairedAndServingGoesOn)
{
    CTestRing ring;
    std::vector<std::unique_ptr<CIdleApp>> apps;
    for (DWORD bad : {10u, 0xFFFFFFFFu})
    {
        for (bool pulse : {true, false})
        {
            ring.SetIndex(bad);
            if (pulse)
                CTestRing::Pulse();
            EXPECT_TRUE(WaitForLog(L"[AppManager] Request ring write index " + std::to_wstring(bad) +
                                       L" out of range: reset to 0",
                                   3000, pulse ? 1 : 2))
                << bad << (pulse ? " with" : " without") << " a wake-up";
            EXPECT_TRUE(WaitFor([&] { return ring.Index() == 0; }, 3000)) << bad;
        }
        apps.push_back(std::make_unique<CIdleApp>());
        EXPECT_TRUE(RegisterThroughRing(apps.back()->Pid())) << "after index " << bad;
    }
    EXPECT_EQ(2u, m_table.Pids().size());
    for (const CCall& call : m_manager->Calls())
        EXPECT_NE(0u, call.pid) << "an empty slot was served";
    if (HasFailure())
        ADD_FAILURE() << Narrow(Log());
}

// The ring's name taken by an object of another kind: the ring thread ends
// cleanly and says why, the pipe goes on serving, the stop is prompt.
TEST_F(RequestChannelFaults, RingThreadEndsCleanlyWhenItsObjectsAreTaken)
{
    m_manager.reset();
    {
        Common::CHandle squatter(::CreateMutexW(nullptr, FALSE, Common::REQUEST_RING_NAME));
        ASSERT_TRUE(squatter.IsValid());
        SetUp();
        EXPECT_TRUE(WaitForLog(L"CAppManagerData::m_pData not valid", 3000));
        CIdleApp app;
        EXPECT_TRUE(RegisterThroughPipe(app.Pid()));
        EXPECT_LT(StopManager(), 1500.0);
        m_manager.reset();
    }
    {
        Common::CHandle squatter(::CreateMutexW(nullptr, FALSE, Common::REQUEST_RING_EVENT));
        ASSERT_TRUE(squatter.IsValid());
        SetUp();
        EXPECT_TRUE(WaitForLog(L"[AppManager] Error = 6", 3000));
        EXPECT_TRUE(WaitForLog(L"[AppManager] [END] DoMonitorRegister | result = 6", 3000));
        CIdleApp app;
        EXPECT_TRUE(RegisterThroughPipe(app.Pid()));
        EXPECT_LT(StopManager(), 1500.0);
        EXPECT_EQ(0u, m_manager->PendingTasks());
    }
}
