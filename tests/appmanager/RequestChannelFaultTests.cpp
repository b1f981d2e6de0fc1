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
    return ::WaitNamedPipeW(AppRequests::CONTROL_PIPE_NAME, 0) || ::GetLastError() != ERROR_FILE_NOT_FOUND;
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
    // The stop ends the pipe server's connect, and it says so as it does for
    // any connect that fails.
    EXPECT_NE(std::wstring::npos, log.find(L"Error (995): ")) << Narrow(log);
    EXPECT_EQ(0u, m_manager->PendingTasks());
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

// Apps register one after another while one thread keeps asking for the
// pipe's name and another keeps trying to create it for itself, as a
// squatting process would (with other parameters, which Wine refuses while
// an instance exists). The module always holds an instance, so the name is
// never absent and never taken.
TEST_F(RequestChannelFaults, PipeNameIsNeverAbsentBetweenClients)
{
    CIdleApp first;
    ASSERT_TRUE(RegisterThroughPipe(first.Pid()));

    std::atomic<bool> done{false};
    std::atomic<long> polls{0}, absent{0};
    const auto poll = [&] {
        while (!done)
        {
            if (!::WaitNamedPipeW(AppRequests::CONTROL_PIPE_NAME, 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND)
                ++absent;
            ++polls;
        }
    };
    std::atomic<long> taken{0};
    const auto squat = [&] {
        while (!done)
        {
            Common::CHandle squatter(::CreateNamedPipeW(AppRequests::CONTROL_PIPE_NAME, PIPE_ACCESS_DUPLEX,
                                                        PIPE_TYPE_BYTE | PIPE_WAIT, 1, 16, 16, 0, nullptr));
            taken += squatter.IsValid() ? 1 : 0;
        }
    };
    std::thread watchers[2] = {std::thread(poll), std::thread(squat)};
    // Dropped messages end a connection at once, so instances follow each
    // other quickly; the registrations in between must all arrive.
    std::vector<std::unique_ptr<CIdleApp>> apps;
    const BYTE junk = 0;
    for (int round = 0; round < 3; ++round)
    {
        for (int i = 0; i < 100; ++i)
            EXPECT_TRUE(SendPipeMessage(&junk, 1));
        apps.push_back(std::make_unique<CIdleApp>());
        EXPECT_TRUE(RegisterThroughPipe(apps.back()->Pid())) << "round " << round;
    }
    done = true;
    for (std::thread& watcher : watchers)
        watcher.join();
    EXPECT_EQ(0, absent.load()) << "the name was absent in " << absent << " of " << polls << " looks";
    EXPECT_EQ(0, taken.load()) << "another process took the name " << taken << " times";
    EXPECT_GT(polls.load(), 100);
    EXPECT_EQ(4u, m_table.Pids().size());
}

// The pipe's name held by another process when the module starts: the
// module creates no instance beside it (a client would reach that process
// alone), and takes the name once it is free.
TEST_F(RequestChannelFaults, PipeNameHeldByAnotherProcessIsTakenOnceFree)
{
    m_manager.reset();
    {
        Common::CHandle squatter(::CreateNamedPipeW(AppRequests::CONTROL_PIPE_NAME, PIPE_ACCESS_DUPLEX,
                                                    PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
        ASSERT_TRUE(squatter.IsValid());
        SetUp();
        EXPECT_TRUE(WaitForLog(L"Control pipe name is held by another process", 3000));
        CIdleApp app;
        const _REGISTERDATATYPE block = MakeBlock(app.Pid(), 1);
        Common::CHandle client = OpenControlPipe(2000);
        ASSERT_TRUE(client.IsValid());
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(client.Get(), &block, sizeof(block), &written, nullptr));
        DWORD waiting = 0;
        EXPECT_TRUE(WaitFor([&] {
            return ::PeekNamedPipe(squatter.Get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting == sizeof(block);
        }, 2000)) << "the block went to the module, not to the name's owner";
        ::Sleep(300);
        EXPECT_TRUE(m_manager->Calls().empty());
    }
    CIdleApp app;
    EXPECT_TRUE(RegisterThroughPipe(app.Pid())) << "the module did not take the name once it was free";
    EXPECT_LT(StopManager(), 1500.0);
}

// A client may connect to the waiting instance before the server waits on
// it (ERROR_PIPE_CONNECTED): one that comes while a silent client holds the
// server, and clients that rush every new instance. Each is served like any
// other, and none is taken for a failed connect.
TEST_F(RequestChannelFaults, ClientConnectedBeforeTheServerWaitsIsServed)
{
    Common::CHandle silent = OpenControlPipe(5000);
    ASSERT_TRUE(silent.IsValid());
    CIdleApp app;
    Common::CHandle early;
    EXPECT_TRUE(WaitFor([&] {
        early.Reset(::CreateFileW(AppRequests::CONTROL_PIPE_NAME, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return early.IsValid();
    }, 1000)) << "no instance waited for the next client while one was served";
    const _REGISTERDATATYPE block = MakeBlock(app.Pid(), 1);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(early.Get(), &block, sizeof(block), &written, nullptr));
    EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::REGISTER_BLOCK, app.Pid()) == 1; }, 8000));

    std::atomic<bool> stop{false};
    std::vector<std::thread> rushers;
    for (int i = 0; i < 4; ++i)
    {
        rushers.emplace_back([&] {
            const BYTE junk = 0;
            while (!stop)
            {
                Common::CHandle pipe(::CreateFileW(AppRequests::CONTROL_PIPE_NAME, GENERIC_WRITE, 0, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
                DWORD bytes = 0;
                if (pipe)
                    ::WriteFile(pipe.Get(), &junk, 1, &bytes, nullptr);
            }
        });
    }
    ::Sleep(1500);
    stop = true;
    for (std::thread& rusher : rushers)
        rusher.join();
    EXPECT_EQ(std::wstring::npos, Log().find(L"Error (535)")) << "ERROR_PIPE_CONNECTED treated as a failure";

    CIdleApp next;
    EXPECT_TRUE(RegisterThroughPipe(next.Pid()));
}

// Apps whose client writes its block and closes at once, arriving while the
// server pauses after a request: each finds the waiting instance (or waits
// for the next one), leaves its block there and is gone before the server
// comes to it. Every one of them is served.
TEST_F(RequestChannelFaults, QuickClientsArrivingDuringThePauseAreAllServed)
{
    CIdleApp first;
    ASSERT_TRUE(RegisterThroughPipe(first.Pid()));  // the server now pauses
    std::vector<std::unique_ptr<CIdleApp>> apps;
    for (int i = 0; i < 3; ++i)
        apps.push_back(std::make_unique<CIdleApp>());
    std::vector<std::thread> clients;
    std::atomic<int> written{0};
    for (const auto& app : apps)
    {
        const DWORD pid = app->Pid();
        clients.emplace_back([pid, &written] {
            Common::CHandle pipe = OpenControlPipe(8000);
            const _REGISTERDATATYPE block = MakeBlock(pid, 1);
            DWORD bytes = 0;
            if (pipe && ::WriteFile(pipe.Get(), &block, sizeof(block), &bytes, nullptr) && bytes == sizeof(block))
                ++written;
        });  // closed without waiting for the read
    }
    for (std::thread& client : clients)
        client.join();
    ASSERT_EQ(3, written.load());
    for (const auto& app : apps)
    {
        EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::REGISTER_BLOCK, app->Pid()) == 1; }, 5000))
            << "the block of pid " << app->Pid() << " was lost";
    }
    EXPECT_EQ(4u, m_table.Pids().size());
}

// Another process (here: the test through its own mapping) writes write
// indexes no slot has, with and without a wake-up. The server serves nothing
// for them and leaves the index as it is; the next client starts again at
// slot 0 and is served.
TEST_F(RequestChannelFaults, RingIndexOutOfRangeIsIgnoredAndServingGoesOn)
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
            ::Sleep(1300);  // longer than the server's look at the ring without a pulse
            EXPECT_EQ(bad, ring.Index()) << (pulse ? "with" : "without") << " a wake-up";
        }
        EXPECT_EQ(apps.size(), m_manager->Calls().size()) << "served an index no slot has: " << bad;
        apps.push_back(std::make_unique<CIdleApp>());
        EXPECT_TRUE(RegisterThroughRing(apps.back()->Pid())) << "after index " << bad;
    }
    EXPECT_EQ(2u, m_table.Pids().size());
    EXPECT_EQ(2u, m_manager->Calls().size());
    for (const CCall& call : m_manager->Calls())
        EXPECT_NE(0u, call.pid) << "an empty slot was served";
}

// The ring's name taken by an object of another kind: the ring thread ends
// cleanly and says why, the pipe goes on serving, the stop is prompt.
TEST_F(RequestChannelFaults, RingThreadEndsCleanlyWhenItsObjectsAreTaken)
{
    m_manager.reset();
    {
        Common::CHandle squatter(::CreateMutexW(nullptr, FALSE, AppRequests::REQUEST_RING_NAME));
        ASSERT_TRUE(squatter.IsValid());
        SetUp();
        EXPECT_TRUE(WaitForLog(L"CAppManagerData::m_pData not valid", 3000));
        CIdleApp app;
        EXPECT_TRUE(RegisterThroughPipe(app.Pid()));
        EXPECT_LT(StopManager(), 1500.0);
        m_manager.reset();
    }
    {
        Common::CHandle squatter(::CreateMutexW(nullptr, FALSE, AppRequests::REQUEST_RING_EVENT));
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
