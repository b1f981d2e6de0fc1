// Registering and unregistering apps in a running manager, with the shared
// table checked through a mapping of its own as other processes see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "AppRecordTestSupport.h"

using namespace AppTest;
using namespace RecordTest;
using namespace TestEnv;

namespace
{
class Registration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager.Init());
        ASSERT_TRUE(m_table.Attach());
    }
    void TearDown() override { m_manager.UnInit(); }

    _REGISTERDATATYPE Block(DWORD pid)
    {
        _REGISTERDATATYPE block{};
        block.dwRequest = 1;
        block.dwProcessId = pid;
        wcscpy(block.szTitle, L"Test app");
        wcscpy(block.szAuthor, L"Tester");
        block.dwDevices = 0x01;
        block.dwCategory = 2;
        return block;
    }

    CAppsInstall m_install;
    CAppManager m_manager;
    CTableView m_table;
};
} // namespace

TEST_F(Registration, ByProcessIdListsTheAppForOtherProcesses)
{
    CIdleApp app;
    EXPECT_TRUE(m_manager.Register(app.Pid()));
    EXPECT_EQ(1, m_table.Count());
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, m_table.Pids());
    EXPECT_EQ(L"IdleApp.exe", m_table.Name(1));
    EXPECT_EQ(1u, m_manager.RegisteredCount());
}

TEST_F(Registration, ByBlockListsTheApp)
{
    CIdleApp app;
    const _REGISTERDATATYPE block = Block(app.Pid());
    EXPECT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, m_table.Pids());
    EXPECT_FALSE(m_manager.Register(static_cast<const _REGISTERDATATYPE*>(nullptr)));
}

TEST_F(Registration, NewestFirstAndRemovalKeepsOrder)
{
    CIdleApp a, b, c;
    ASSERT_TRUE(m_manager.Register(a.Pid()));
    ASSERT_TRUE(m_manager.Register(b.Pid()));
    ASSERT_TRUE(m_manager.Register(c.Pid()));
    EXPECT_EQ((std::vector<DWORD>{c.Pid(), b.Pid(), a.Pid()}), m_table.Pids());

    EXPECT_TRUE(m_manager.Unregister(b.Pid()));
    EXPECT_EQ((std::vector<DWORD>{c.Pid(), a.Pid()}), m_table.Pids());
    EXPECT_EQ(2u, m_manager.RegisteredCount());
}

TEST_F(Registration, SameProcessTwiceGivesTwoRowsOneEntry)
{
    CIdleApp app;
    ASSERT_TRUE(m_manager.Register(app.Pid()));
    ASSERT_TRUE(m_manager.Register(app.Pid()));
    EXPECT_EQ((std::vector<DWORD>{app.Pid(), app.Pid()}), m_table.Pids());
    EXPECT_EQ(1u, m_manager.RegisteredCount());
    // Unregistering removes only the first matching row.
    EXPECT_TRUE(m_manager.Unregister(app.Pid()));
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, m_table.Pids());
}

TEST_F(Registration, DeadProcessIsRefusedAndLeavesTheTable)
{
    const DWORD dead = DeadProcessId();
    EXPECT_FALSE(m_manager.Register(dead));
    const _REGISTERDATATYPE block = Block(dead);
    EXPECT_FALSE(m_manager.Register(&block));
    EXPECT_EQ(0, m_table.Count());
    EXPECT_EQ(0u, m_manager.RegisteredCount());
    const std::wstring log = ReadUtf16File(m_install.OwnLog());
    EXPECT_EQ(2u, CountOf(log, L"[AppManager] Invalid Process Id: Register(" + std::to_wstring(dead) + L")"));
}

TEST_F(Registration, UnregisterOfUnknownProcess)
{
    // Running but never registered here: a row left with its pid goes, and
    // both events are still pulsed.
    CIdleApp app;
    m_table.Table()->rows[1].dwProcessId = app.Pid();
    m_table.Table()->nCount = 1;
    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT);
    CPulseCounter registrations(Common::REGISTRATIONS_CHANGED_EVENT);
    EXPECT_TRUE(m_manager.Unregister(app.Pid()));
    EXPECT_EQ(0, m_table.Count());
    EXPECT_TRUE(WaitFor([&] { return appsChanged.Count() >= 1 && registrations.Count() >= 1; }, 2000));

    // Neither registered nor running: nothing to do.
    EXPECT_FALSE(m_manager.Unregister(DeadProcessId()));
}

TEST_F(Registration, RegistrationPulsesBothEvents)
{
    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT);
    CPulseCounter registrations(Common::REGISTRATIONS_CHANGED_EVENT);
    CIdleApp app;
    ASSERT_TRUE(m_manager.Register(app.Pid()));
    EXPECT_TRUE(WaitFor([&] { return appsChanged.Count() >= 1 && registrations.Count() >= 1; }, 2000));
}

TEST_F(Registration, FullTableRegistersWithoutARow)
{
    CIdleApp app;
    for (int i = 0; i < Common::APP_TABLE_MAX_ROWS; ++i)
        ASSERT_TRUE(m_manager.Register(app.Pid())) << i;
    ASSERT_EQ(Common::APP_TABLE_MAX_ROWS, m_table.Count());
    Common::CAppData::_APPTABLE before;
    std::memcpy(&before, m_table.Table(), sizeof(before));

    CIdleApp extra;
    EXPECT_TRUE(m_manager.Register(extra.Pid()));
    EXPECT_EQ(0, std::memcmp(&before, m_table.Table(), sizeof(before))) << "a full table must stay unchanged";
    EXPECT_EQ(2u, m_manager.RegisteredCount());
}

// Texts that fill their fields without a terminator are read up to the
// field's end less its terminator, never beyond it into the next field:
// the app's record holds exactly that much of each.
TEST_F(Registration, UnterminatedBlockTextsStayInTheirFields)
{
    CIdleApp app;
    _REGISTERDATATYPE block = Block(app.Pid());
    std::fill(std::begin(block.szTitle), std::end(block.szTitle), L'T');
    std::fill(std::begin(block.szDescription), std::end(block.szDescription), L'D');
    std::fill(std::begin(block.szAuthor), std::end(block.szAuthor), L'A');
    std::fill(std::begin(block.szContact), std::end(block.szContact), L'C');
    EXPECT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(1, m_table.Count());
    const std::wstring key = RecordKey(L"IdleApp.exe");
    EXPECT_EQ(std::wstring(255, L'T'), Text(key, L"Title"));
    EXPECT_EQ(std::wstring(1023, L'D'), Text(key, L"Description"));
    EXPECT_EQ(std::wstring(255, L'A'), Text(key, L"Author"));
    EXPECT_EQ(std::wstring(255, L'C'), Text(key, L"Contact"));
}

// Lines that run on every call and that no reader relies on are DEBUG;
// the lines operators follow keep their level.
TEST_F(Registration, RoutineLinesAreDebug)
{
    CIdleApp app;
    ASSERT_TRUE(m_manager.Register(app.Pid()));
    m_manager.SetGlobalEffect(Common::EFFECT_OWNED_A, L"IdleApp.exe");
    m_table.Table()->rows[0].dwProcessId = 0;
    RegWriteString(kAppsKey, L"PriorityList", L"IdleApp.exe");
    m_manager.UpdateActiveApp(0);
    ASSERT_TRUE(m_manager.Unregister(app.Pid()));

    const std::wstring log = ReadUtf16File(m_install.OwnLog());
    const struct
    {
        const wchar_t* text;
        const wchar_t* level;
    } cases[] = {
        {L"[AppManager] SetGlobalEffect(14, IdleApp.exe) devices = 0xBF", L",DEBUG,"},
        {L"[CAppManager] IdleApp.exe has no KaleoAppInfo.xml", L",DEBUG,"},
        {L"[AppManager] No active app", L",DEBUG,"},
        {L"[CAppManager] Record of IdleApp.exe", L",DEBUG,"},
        {L"[AppManager] Register app with pid = ", L",INFO,"},
        {L"[AppManager] [Register1] Number of apps running = 1", L",INFO,"},
        {L"[AppManager] Start monitoring IdleApp.exe", L",INFO,"},
        {L"[AppManager] [Unregister] Number of apps running = 0", L",INFO,"},
    };
    for (const auto& c : cases)
    {
        size_t lines = 0;
        for (size_t at = log.find(c.text); at != std::wstring::npos; at = log.find(c.text, at + 1))
        {
            const size_t begin = log.rfind(L'\n', at);
            const std::wstring head = log.substr(begin == std::wstring::npos ? 0 : begin, at - begin);
            EXPECT_NE(std::wstring::npos, head.find(c.level)) << Narrow(c.text) << ": " << Narrow(head);
            ++lines;
        }
        EXPECT_GT(lines, 0u) << Narrow(c.text);
    }
}

// Another process may scribble over the count: the module repairs it and
// keeps a consistent table.
TEST_F(Registration, HostileCountsAreRepaired)
{
    CIdleApp app;
    for (int32_t hostile : {-1, 51, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)})
    {
        m_table.Table()->nCount = hostile;
        ASSERT_TRUE(m_manager.Register(app.Pid())) << hostile;
        const int count = m_table.Count();
        EXPECT_GE(count, 1) << hostile;
        EXPECT_LE(count, Common::APP_TABLE_MAX_ROWS) << hostile;
        EXPECT_TRUE(m_manager.Unregister(app.Pid())) << hostile;
        m_table.Table()->nCount = 0;
    }
    ASSERT_TRUE(m_manager.Register(app.Pid()));
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, m_table.Pids());
    EXPECT_NE(std::wstring::npos, ReadUtf16File(m_install.OwnLog()).find(L"[AppData] Invalid app count -1"));
}

// A count scribbled over while apps are registered: it is taken from the
// rows in use, so the next registration neither overwrites a registered
// app's row nor finds the table full of empty rows.
TEST_F(Registration, HostileCountKeepsTheRowsInUse)
{
    CIdleApp first;
    ASSERT_TRUE(m_manager.Register(first.Pid()));
    for (int32_t hostile : {-1, 51, static_cast<int32_t>(0x80000000)})
    {
        CIdleApp next;
        m_table.Table()->nCount = hostile;
        ASSERT_TRUE(m_manager.Register(next.Pid())) << hostile;
        EXPECT_EQ((std::vector<DWORD>{next.Pid(), first.Pid()}), m_table.Pids()) << hostile;
        EXPECT_TRUE(m_manager.Unregister(next.Pid())) << hostile;
    }
    EXPECT_NE(std::wstring::npos, ReadUtf16File(m_install.OwnLog()).find(L"[AppData] Invalid app count 51 repaired to 1"));
}

// Others may create the apps-changed event with no more rights than the
// module needs: waiting, and pulsing. Its pulses still arrive, and the
// active-app thread still runs on it.
TEST(RegistrationEvents, PulsedWithModifyAccessOnly)
{
    CAppsInstall install;
    // Everyone: SYNCHRONIZE | EVENT_MODIFY_STATE.
    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT, L"D:(A;;0x00100002;;;WD)");
    {
        Common::CHandle probe(::OpenEventW(EVENT_ALL_ACCESS, FALSE, Common::APPS_CHANGED_EVENT));
        ASSERT_FALSE(probe.IsValid()) << "the system must enforce the event's security for this test";
    }
    CAppManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    ::Sleep(100);  // the active-app thread reaches its wait
    CIdleApp app;
    ASSERT_TRUE(manager.Register(app.Pid()));
    EXPECT_TRUE(WaitFor([&] { return appsChanged.Count() >= 1; }, 2000));
    manager.UnInit();
    const std::wstring log = ReadUtf16File(install.OwnLog());
    EXPECT_EQ(std::wstring::npos, log.find(L") 0x00000005: ")) << "the active-app thread could not use the event";
}
