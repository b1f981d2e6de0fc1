// Registering and unregistering apps in a running manager, with the shared
// table checked through a mapping of its own as other processes see it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "AppManagerTestSupport.h"

using namespace AppTest;
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
// field's end, never beyond it into the next field.
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
    const std::wstring log = ReadUtf16File(m_install.OwnLog());
    const size_t at = log.find(L"title=TTT");
    ASSERT_NE(std::wstring::npos, at);
    EXPECT_EQ(std::wstring::npos, log.find(L"TD", at)) << "title ran into the description";
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
