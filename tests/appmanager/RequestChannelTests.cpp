// Registrations arriving through the control pipe and the request ring of a
// running manager, sent by stand-in apps (kaleoctl copies) and raw clients,
// with the shared table checked from other processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "RequestChannelHelpers.h"

using namespace ChannelTest;
using namespace TestEnv;
using AppTest::CIdleApp;

namespace
{
class RequestChannels : public CChannelFixture
{
protected:
    std::wstring Pid(DWORD pid) { return std::to_wstring(pid); }
    // "kaleoctl table" from another process.
    std::string PrintedTable()
    {
        std::string output;
        EXPECT_EQ(0u, Kaleoctl(L"table", &output)) << output;
        return output;
    }
};

std::string RowLine(int row, DWORD pid, const char* name)
{
    return "row " + std::to_string(row) + ": pid " + std::to_string(pid) + "  " + name;
}
} // namespace

// The stand-in sends a block whose fields arrive unchanged (texts cut to
// their fields); another process sees the row.
TEST_F(RequestChannels, PipeBlockArrivesWholeAndListsTheApp)
{
    const std::wstring game = CopyAs(L"kaleoctl.exe", L"game.exe");
    const std::wstring longTitle(300, L'T');
    CChildProcess app;
    ASSERT_TRUE(app.Start(game,
                          L"app register --hold --title " + longTitle +
                              L" --desc \"A long game\" --author Ann --contact ann@example.com "
                              L"--devices 0x85 --category 7",
                          m_scratch / L"game.txt"));
    ASSERT_TRUE(m_manager->WaitForCalls(1, 15000));
    const CCall call = m_manager->Calls()[0];
    EXPECT_EQ(CCall::REGISTER_BLOCK, call.kind);
    EXPECT_EQ(app.Pid(), call.pid);
    EXPECT_TRUE(call.result);
    EXPECT_EQ(std::wstring(255, L'T'), call.title);
    EXPECT_EQ(L"A long game", call.description);
    EXPECT_EQ(L"Ann", call.author);
    EXPECT_EQ(L"ann@example.com", call.contact);
    EXPECT_EQ(0x85u, call.devices);
    EXPECT_EQ(7u, call.category);

    const std::string table = PrintedTable();
    EXPECT_NE(std::string::npos, table.find("app table: 1 app(s)")) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(1, app.Pid(), "game.exe"))) << table;
    EXPECT_EQ(1u, m_manager->RegisteredCount());
    const std::string expected =
        "registered pid " + std::to_string(app.Pid()) + " (game.exe) through the control pipe";
    const auto printed = [&] {
        const std::vector<BYTE> bytes = ReadFileBytes(m_scratch / L"game.txt");
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_TRUE(WaitFor([&] { return printed().find(expected) != std::string::npos; }, 5000)) << printed();
}

TEST_F(RequestChannels, RingRegistersAndUnregistersByProcessId)
{
    CIdleApp app(L"", m_scratch.Path(), L"ringapp.exe");
    std::string output;
    ASSERT_EQ(0u, Kaleoctl(L"app register --ring --pid " + Pid(app.Pid()), &output)) << output;
    EXPECT_NE(std::string::npos, output.find("through the request ring")) << output;
    EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::REGISTER_PID, app.Pid()) == 1; }, 5000));
    std::string table = PrintedTable();
    EXPECT_NE(std::string::npos, table.find(RowLine(1, app.Pid(), "ringapp.exe"))) << table;

    ASSERT_EQ(0u, Kaleoctl(L"app unregister --ring --pid " + Pid(app.Pid()), &output)) << output;
    EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::UNREGISTER, app.Pid()) == 1; }, 5000));
    table = PrintedTable();
    EXPECT_NE(std::string::npos, table.find("app table: 0 app(s)")) << table;
    EXPECT_EQ(0u, m_manager->RegisteredCount());
}

TEST_F(RequestChannels, ThreeAppsNewestFirstThenTheMiddleOneRemoved)
{
    CIdleApp a(L"", m_scratch.Path(), L"alpha.exe");
    CIdleApp b(L"", m_scratch.Path(), L"beta.exe");
    CIdleApp c(L"", m_scratch.Path(), L"gamma.exe");
    ASSERT_EQ(0u, Kaleoctl(L"app register --pid " + Pid(a.Pid())));
    ASSERT_EQ(0u, Kaleoctl(L"app register --ring --pid " + Pid(b.Pid())));
    ASSERT_EQ(0u, Kaleoctl(L"app register --pid " + Pid(c.Pid())));
    std::string table = PrintedTable();
    EXPECT_NE(std::string::npos, table.find("app table: 3 app(s)")) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(1, c.Pid(), "gamma.exe"))) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(2, b.Pid(), "beta.exe"))) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(3, a.Pid(), "alpha.exe"))) << table;

    ASSERT_EQ(0u, Kaleoctl(L"app unregister --pid " + Pid(b.Pid())));
    table = PrintedTable();
    EXPECT_NE(std::string::npos, table.find("app table: 2 app(s)")) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(1, c.Pid(), "gamma.exe"))) << table;
    EXPECT_NE(std::string::npos, table.find(RowLine(2, a.Pid(), "alpha.exe"))) << table;
    EXPECT_EQ(2u, m_manager->RegisteredCount());
}

// One process through both channels at once: two rows, one map entry.
TEST_F(RequestChannels, SameProcessThroughBothChannelsGivesTwoRowsOneEntry)
{
    CIdleApp app;
    DWORD ringRc = 1, pipeRc = 1;
    std::thread ring([&] { ringRc = Kaleoctl(L"app register --ring --pid " + Pid(app.Pid())); });
    pipeRc = Kaleoctl(L"app register --pid " + Pid(app.Pid()));
    ring.join();
    EXPECT_EQ(0u, ringRc);
    EXPECT_EQ(0u, pipeRc);
    EXPECT_TRUE(WaitFor([&] { return m_table.Pids().size() == 2; }, 5000));
    EXPECT_EQ((std::vector<DWORD>{app.Pid(), app.Pid()}), m_table.Pids());
    EXPECT_EQ(1u, m_manager->RegisteredCount());
}

// A live process that never registered, and a pid of no process: the table
// keeps its rows and both channels serve the next registration.
TEST_F(RequestChannels, UnregisteringWhatNeverRegisteredChangesNothing)
{
    CIdleApp listed, stranger;
    const DWORD dead = AppTest::DeadProcessId();
    ASSERT_TRUE(m_manager->Register(listed.Pid()));

    std::thread ring([&] {
        CTestRing().Push(dead, 0);
        CTestRing::Pulse();
    });
    const _REGISTERDATATYPE block = MakeBlock(stranger.Pid(), 0);
    ASSERT_TRUE(SendPipeMessage(&block, sizeof(block)));
    ring.join();
    ASSERT_TRUE(WaitFor([&] { return CallsOf(CCall::UNREGISTER, dead) == 1 &&
                                     CallsOf(CCall::UNREGISTER, stranger.Pid()) == 1; },
                        5000));
    for (const CCall& call : m_manager->Calls())
    {
        if (call.pid == dead)
        {
            EXPECT_FALSE(call.result) << "no process: nothing to unregister";
        }
    }
    EXPECT_EQ(std::vector<DWORD>{listed.Pid()}, m_table.Pids());
    EXPECT_EQ(1u, m_manager->RegisteredCount());

    CIdleApp next;
    EXPECT_EQ(0u, Kaleoctl(L"app register --ring --pid " + Pid(next.Pid())));
    EXPECT_EQ(0u, Kaleoctl(L"app register --pid " + Pid(next.Pid())));
    EXPECT_EQ(3u, m_table.Pids().size());
}

// Ten requests written at once bring the write index back where it was;
// the wake-up still serves all ten, in slot order, paced. Stray wake-ups
// afterwards replay none of them.
TEST_F(RequestChannels, RingServesTenRequestsInSlotOrderPaced)
{
    std::vector<std::unique_ptr<CIdleApp>> apps;
    for (int i = 0; i < 10; ++i)
        apps.push_back(std::make_unique<CIdleApp>(L"", m_scratch.Path(), L"ring" + std::to_wstring(i) + L".exe"));
    CTestRing ring;
    const DWORD start = ring.Index();
    for (const auto& app : apps)
        ring.Push(app->Pid(), AppRequests::REQUEST_REGISTER);
    EXPECT_EQ(start, ring.Index());
    CTestRing::Pulse();

    ASSERT_TRUE(m_manager->WaitForCalls(10, 15000));
    const std::vector<CCall> calls = m_manager->Calls();
    for (size_t i = 0; i < 10; ++i)
    {
        EXPECT_EQ(apps[i]->Pid(), calls[i].pid) << "slot order, call " << i;
        EXPECT_TRUE(calls[i].result) << i;
        if (i > 0)
        {
            EXPECT_GE(calls[i].atMs - calls[i - 1].atMs, 450.0) << "paced, call " << i;
        }
    }
    std::vector<DWORD> newestFirst;
    for (auto it = apps.rbegin(); it != apps.rend(); ++it)
        newestFirst.push_back((*it)->Pid());
    EXPECT_EQ(newestFirst, m_table.Pids());

    for (const auto& app : apps)
        ASSERT_TRUE(m_manager->Unregister(app->Pid()));
    const size_t served = m_manager->Calls().size();
    for (int i = 0; i < 3; ++i)
    {
        CTestRing::Pulse();
        ::Sleep(300);
    }
    ::Sleep(700);
    EXPECT_EQ(served, m_manager->Calls().size()) << "a stray wake-up replayed an old request";
    EXPECT_TRUE(m_table.Pids().empty());
}

// Pulses reach only a server that waits: ten requests written while it was
// busy (here: with no pulse at all) bring the index full circle, and are
// still all served once the slots have settled.
TEST_F(RequestChannels, RingCameFullCircleWithoutAPulseIsStillServed)
{
    std::vector<std::unique_ptr<CIdleApp>> apps;
    for (int i = 0; i < 10; ++i)
        apps.push_back(std::make_unique<CIdleApp>());
    CTestRing ring;
    for (const auto& app : apps)
        ring.Push(app->Pid(), AppRequests::REQUEST_REGISTER);
    ASSERT_TRUE(m_manager->WaitForCalls(10, 15000)) << m_manager->Calls().size() << " served";
    EXPECT_EQ(10u, m_table.Pids().size());
}

namespace
{
// Processor time this process has used so far, user and kernel.
ULONGLONG ProcessCpuMs()
{
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}
} // namespace

// The ring belongs to its clients: the module reads it and writes nothing
// back, so after serving it holds exactly what the clients wrote. Events
// that come without a new write (a stray pulse, the wake-up event left set,
// an index moved or spoiled by another process) call nothing and leave the
// ring alone as well; the next real request is served.
TEST_F(RequestChannels, RingIsLeftAsWrittenAndStrayEventsCallNothing)
{
    std::vector<std::unique_ptr<CIdleApp>> apps;
    CTestRing ring;
    for (int i = 0; i < 3; ++i)
    {
        apps.push_back(std::make_unique<CIdleApp>());
        ring.Push(apps.back()->Pid(), AppRequests::REQUEST_REGISTER);
    }
    const AppRequests::_REQUESTRING written = *ring.Ring();
    CTestRing::Pulse();
    ASSERT_TRUE(m_manager->WaitForCalls(3, 8000));
    ::Sleep(700);  // past the last request's pause
    EXPECT_EQ(0, ::memcmp(&written, ring.Ring(), sizeof(written))) << "the module wrote into the ring";

    struct CStray
    {
        const char* what;
        DWORD index;    // written by the stray writer; kKeep leaves it
        bool leaveSet;  // the event set and left set instead of pulsed
    };
    constexpr DWORD kKeep = 0xA5A5A5A5u;
    const CStray strays[] = {
        {"a pulse alone", kKeep, false},
        {"the wake-up event left set", kKeep, true},
        {"the index moved over slots nobody wrote", (ring.Index() + 4) % AppRequests::REQUEST_RING_SLOTS, false},
        {"an index no slot has", AppRequests::REQUEST_RING_SLOTS, false},
        {"an index far out of range", 0xFFFFFFFFu, false},
    };
    Common::CHandle wakeUp(::OpenEventW(EVENT_MODIFY_STATE, FALSE, AppRequests::REQUEST_RING_EVENT));
    ASSERT_TRUE(wakeUp.IsValid());
    for (const CStray& stray : strays)
    {
        if (stray.index != kKeep && stray.index < AppRequests::REQUEST_RING_SLOTS)
        {
            // A slot the index passes is served whatever it holds; one with
            // no process id holds no request.
            for (DWORD slot = ring.Index(); slot != stray.index; slot = (slot + 1) % AppRequests::REQUEST_RING_SLOTS)
                ring.Ring()->slots[slot] = AppRequests::_REQUESTSLOT{};
        }
        if (stray.index != kKeep)
            ring.SetIndex(stray.index);
        const AppRequests::_REQUESTRING before = *ring.Ring();
        const ULONGLONG cpuBefore = ProcessCpuMs();
        if (stray.leaveSet)
            ::SetEvent(wakeUp.Get());
        else
            CTestRing::Pulse();
        ::Sleep(1300);  // longer than the server's look at the ring without a pulse
        ::ResetEvent(wakeUp.Get());
        // A server woken again and again by the set event would spin.
        EXPECT_LT(ProcessCpuMs() - cpuBefore, 300u) << stray.what << ": the ring server kept this process busy";
        EXPECT_EQ(3u, m_manager->Calls().size()) << stray.what;
        EXPECT_EQ(0, ::memcmp(&before, ring.Ring(), sizeof(before))) << stray.what << ": the module wrote into the ring";
    }

    CIdleApp last;
    ring.Push(last.Pid(), AppRequests::REQUEST_REGISTER);
    CTestRing::Pulse();
    EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::REGISTER_PID, last.Pid()) == 1; }, 5000));
    EXPECT_EQ(4u, m_table.Pids().size());
}

// One app registers and unregisters through the ring again and again: from
// the eleventh request on, each slot receives the very bytes it held ten
// requests before. The index announces each one, so each is served.
TEST_F(RequestChannels, RingServesARequestRepeatedIntoTheSameSlot)
{
    CIdleApp app;
    CTestRing ring;
    for (int i = 0; i < 14; ++i)
    {
        const bool registering = i % 2 == 0;
        ring.Push(app.Pid(), registering ? AppRequests::REQUEST_REGISTER : 0);
        CTestRing::Pulse();
        ASSERT_TRUE(WaitFor([&] { return m_table.Pids().empty() != registering; }, 3000))
            << "request " << i + 1 << (registering ? " (register)" : " (unregister)") << " was not served";
    }
    // A call is recorded once it returns, a moment after its row changed.
    EXPECT_TRUE(WaitFor([&] { return CallsOf(CCall::UNREGISTER, app.Pid()) == 7; }, 2000));
    EXPECT_EQ(7u, CallsOf(CCall::REGISTER_PID, app.Pid()));
}

TEST_F(RequestChannels, EleventhRequestOverwritesTheFirst)
{
    const DWORD first = AppTest::DeadProcessId();
    CIdleApp eleventh;
    CTestRing ring;
    const DWORD start = ring.Index();
    ring.Push(first, AppRequests::REQUEST_REGISTER);
    for (DWORD i = 1; i < 10; ++i)
        ring.Push(0x7FFF0000u + i, 0);
    EXPECT_EQ(start, ring.Push(eleventh.Pid(), AppRequests::REQUEST_REGISTER)) << "the eleventh takes slot 0 again";
    CTestRing::Pulse();

    ASSERT_TRUE(m_manager->WaitForCalls(1, 5000));
    ::Sleep(1500);
    const std::vector<CCall> calls = m_manager->Calls();
    EXPECT_EQ(eleventh.Pid(), calls[0].pid);
    EXPECT_EQ(CCall::REGISTER_PID, calls[0].kind);
    EXPECT_EQ(0u, CallsOf(CCall::REGISTER_PID, first)) << "the first request was overwritten";
    EXPECT_EQ(std::vector<DWORD>{eleventh.Pid()}, m_table.Pids());
}

// Only exact 3,600-byte messages count. Each wrong-sized one carries a valid
// registration, so taking any of them would show.
TEST_F(RequestChannels, PipeIgnoresMessagesOfAnyOtherSize)
{
    CIdleApp app;
    std::vector<BYTE> message(7200, 0);
    const _REGISTERDATATYPE block = MakeBlock(app.Pid(), 1, L"wrong size");
    ::CopyMemory(message.data(), &block, sizeof(block));
    ::CopyMemory(message.data() + sizeof(block), &block, sizeof(block));
    for (DWORD size : {3599u, 3601u, 7200u, 8u, 1u})
        EXPECT_TRUE(SendPipeMessage(message.data(), size)) << size;

    CIdleApp good;
    const _REGISTERDATATYPE right = MakeBlock(good.Pid(), 1, L"right size");
    ASSERT_TRUE(SendPipeMessage(&right, sizeof(right)));
    ASSERT_TRUE(m_manager->WaitForCalls(1, 5000));
    ::Sleep(300);
    const std::vector<CCall> calls = m_manager->Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(good.Pid(), calls[0].pid);
    EXPECT_EQ(L"right size", calls[0].title);
    EXPECT_EQ(std::vector<DWORD>{good.Pid()}, m_table.Pids());
}

TEST_F(RequestChannels, PipeUnregisterBlockIsHandledAfterThePause)
{
    CIdleApp app;
    ASSERT_EQ(0u, Kaleoctl(L"app register --pid " + Pid(app.Pid())));
    ::Sleep(600);  // past the registration's own pause
    const _REGISTERDATATYPE block = MakeBlock(app.Pid(), 0);
    const double sent = NowMs();
    ASSERT_TRUE(SendPipeMessage(&block, sizeof(block)));
    ASSERT_TRUE(WaitFor([&] { return CallsOf(CCall::UNREGISTER, app.Pid()) == 1; }, 5000));
    for (const CCall& call : m_manager->Calls())
    {
        if (call.kind == CCall::UNREGISTER)
        {
            EXPECT_GE(call.atMs - sent, 450.0);
        }
    }
    EXPECT_TRUE(m_table.Pids().empty());
    EXPECT_EQ(0u, m_manager->RegisteredCount());
}
