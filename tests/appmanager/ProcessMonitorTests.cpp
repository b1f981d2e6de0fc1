// Apps that exit without unregistering, and a module that starts again over
// a table an earlier run left behind.
#include <gtest/gtest.h>

#include <memory>

#include "AppManagerTestSupport.h"
#include "EffectRingTestView.h"

using namespace AppTest;
using namespace TestEnv;

namespace
{
class ProcessExit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager.Init());
        ASSERT_TRUE(m_table.Attach());
    }
    void TearDown() override { m_manager.UnInit(); }

    std::wstring Log() { return ReadUtf16File(m_install.OwnLog()); }

    CAppsInstall m_install;
    CAppManager m_manager;
    CTableView m_table;
};
} // namespace

TEST_F(ProcessExit, KilledAppIsRemovedAndAnnounced)
{
    CIdleApp a, b;
    ASSERT_TRUE(m_manager.Register(a.Pid()));
    ASSERT_TRUE(m_manager.Register(b.Pid()));
    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT);
    CPulseCounter registrations(Common::REGISTRATIONS_CHANGED_EVENT);
    const DWORD killed = a.Pid();
    a.Kill();
    ASSERT_TRUE(WaitFor([&] { return m_table.Count() == 1; }, 5000));
    EXPECT_EQ(std::vector<DWORD>{b.Pid()}, m_table.Pids());
    EXPECT_TRUE(WaitFor([&] { return m_manager.RegisteredCount() == 1; }, 2000));
    EXPECT_TRUE(WaitFor([&] { return appsChanged.Count() >= 1 && registrations.Count() >= 1; }, 2000));
    EXPECT_TRUE(WaitFor([&] { return Log().find(L"[AppManager] Number of apps left running = 1") != std::wstring::npos; },
                        2000));
    EXPECT_NE(std::wstring::npos,
              Log().find(L"(PID = " + std::to_wstring(killed) + L") terminated unexpectedly"));
}

// The records the device side reads after the last app's exit: the
// headset's last-app record first, then the release in every ring the app's
// record names (defaults: all of them) and in the general ring.
TEST_F(ProcessExit, LastAppGoneReleasesTheLighting)
{
    CIdleApp app;
    ASSERT_TRUE(m_manager.Register(app.Pid()));

    struct CExpected
    {
        const Effects::CRingLayout* layout;
        std::vector<std::pair<DWORD, DWORD>> records; // code, effect
    };
    const CExpected expected[] = {
        {&Effects::HEADSET_RING, {{Effects::CODE_HEADSET_LAST_APP, 10}, {Effects::CODE_HEADSET, 13}}},
        {&Effects::KEYBOARD_RING, {{Effects::CODE_KEYBOARD, 13}}},
        {&Effects::MOUSE_RING, {{Effects::CODE_MOUSE, 13}}},
        {&Effects::HOMELIGHTING_RING, {{Effects::CODE_HOMELIGHTING, 13}}},
        {&Effects::GENERAL_RING, {{Effects::CODE_GENERAL, 13}}},
    };
    // The rings as the device side holds them, with their write index now.
    std::vector<std::unique_ptr<EffectTest::CRingView>> views;
    std::vector<DWORD> starts;
    for (const CExpected& ring : expected)
    {
        views.push_back(std::make_unique<EffectTest::CRingView>());
        ASSERT_TRUE(views.back()->Create(ring.layout->sectionName, ring.layout->sectionSize));
        starts.push_back(views.back()->WriteIndex());
    }

    app.Kill();
    ASSERT_TRUE(WaitFor([&] { return m_table.Count() == 0 && m_manager.RegisteredCount() == 0; }, 5000));
    for (size_t r = 0; r < views.size(); ++r)
    {
        const Effects::CRingLayout& layout = *expected[r].layout;
        const EffectTest::CRingView& view = *views[r];
        const DWORD count = static_cast<DWORD>(expected[r].records.size());
        const DWORD end = (starts[r] + count) % Effects::RING_SLOTS;
        ASSERT_TRUE(WaitFor([&] { return view.WriteIndex() == end; }, 5000))
            << Narrow(layout.label) << " index " << view.WriteIndex();
        for (DWORD i = 0; i < count; ++i)
        {
            const DWORD slot = (starts[r] + i) % Effects::RING_SLOTS;
            EXPECT_EQ(expected[r].records[i].first, view.Word(slot, layout.slotSize, 0)) << Narrow(layout.label) << i;
            EXPECT_EQ(expected[r].records[i].second, view.Word(slot, layout.slotSize, layout.effectOffset))
                << Narrow(layout.label) << i;
        }
    }
    EXPECT_TRUE(WaitFor([&] { return Log().find(L"[AppManager] Number of apps left running = 0") != std::wstring::npos; },
                        2000));
}

// A manager that lets the registering process go, and every handle the test
// holds on it, in the middle of the registration.
class CExitingAppManager : public CAppManager
{
public:
    ~CExitingAppManager() override { UnInit(); }
    void AddToPriorityList(std::wstring fileName) override
    {
        if (m_pApp)
        {
            m_pApp->Kill();
            m_pApp.reset();
        }
        CAppManager::AddToPriorityList(fileName);
    }
    std::unique_ptr<CIdleApp> m_pApp;
};

// Its monitor watches the process the registration opened: a process gone,
// and every other handle on it closed, before its monitor started still
// loses its row and map entry. (Where the system frees an exited process
// with its last handle, opening it again by id would fail here.)
TEST(ProcessMonitor, AppGoneDuringRegistrationLosesItsRow)
{
    CAppsInstall install;
    CExitingAppManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    CTableView table;
    ASSERT_TRUE(table.Attach());
    manager.m_pApp = std::make_unique<CIdleApp>();
    const DWORD pid = manager.m_pApp->Pid();
    ASSERT_TRUE(manager.Register(pid));
    EXPECT_TRUE(WaitFor([&] { return table.Count() == 0 && manager.RegisteredCount() == 0; }, 5000))
        << "rows " << table.Count() << ", registered " << manager.RegisteredCount();
    manager.UnInit();
    const std::wstring log = ReadUtf16File(install.OwnLog());
    EXPECT_NE(std::wstring::npos, log.find(L"IdleApp.exe(PID = " + std::to_wstring(pid) + L") terminated unexpectedly"));
}

TEST_F(ProcessExit, StopEndsMonitorsOfRunningApps)
{
    CIdleApp a, b;
    ASSERT_TRUE(m_manager.Register(a.Pid()));
    ASSERT_TRUE(m_manager.Register(b.Pid()));
    ASSERT_TRUE(WaitFor([&] { return m_manager.PendingTasks() >= 2; }, 2000));
    const ULONGLONG start = ::GetTickCount64();
    m_manager.UnInit();
    EXPECT_LT(::GetTickCount64() - start, 5000u);
    EXPECT_EQ(0u, m_manager.PendingTasks());
    // The rows stay for the next start to revalidate.
    EXPECT_EQ(2, m_table.Count());
}

TEST(ModuleRestart, LiveRowsAreAdoptedDeadRowsDropped)
{
    CAppsInstall install;
    CIdleApp live;
    const DWORD dead = DeadProcessId();
    // The table outlives the module while another process holds it.
    Common::CAppData holder;
    ASSERT_TRUE(holder.Create());
    auto* table = holder.Table();
    table->nCount = 2;
    table->rows[1].dwProcessId = dead;
    wcscpy(table->rows[1].szName, L"gone.exe");
    table->rows[2].dwProcessId = live.Pid();
    wcscpy(table->rows[2].szName, L"IdleApp.exe");

    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT);
    CAppManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    EXPECT_EQ(1, table->nCount);
    EXPECT_EQ(live.Pid(), table->rows[1].dwProcessId);
    EXPECT_EQ(1u, manager.RegisteredCount());
    EXPECT_TRUE(WaitFor([&] { return appsChanged.Count() == 1; }, 2000));
    ::Sleep(100);
    EXPECT_EQ(1, appsChanged.Count()) << "pulsed once";

    // The adopted app is monitored again.
    live.Kill();
    EXPECT_TRUE(WaitFor([&] { return table->nCount == 0; }, 5000));
    manager.UnInit();

    const std::wstring log = ReadUtf16File(install.OwnLog());
    EXPECT_NE(std::wstring::npos, log.find(L"[CAppManager] running apps = 2"));
    EXPECT_NE(std::wstring::npos, log.find(L"[CAppManager] gone.exe (pid=" + std::to_wstring(dead) + L") not running anymore"));
    EXPECT_NE(std::wstring::npos, log.find(L"[CAppManager] IdleApp.exe (pid=" + std::to_wstring(live.Pid()) + L") still running"));
}

TEST(ModuleRestart, AbsentTableStartsEmptyWithoutPulse)
{
    CAppsInstall install;
    CPulseCounter appsChanged(Common::APPS_CHANGED_EVENT);
    CAppManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    ::Sleep(100);
    EXPECT_EQ(0, appsChanged.Count());
    manager.UnInit();
    const std::wstring log = ReadUtf16File(install.OwnLog());
    EXPECT_NE(std::wstring::npos, log.find(L"[CAppManager] running apps = 0"));
    EXPECT_NE(std::wstring::npos, log.find(L"[AppData] Error opening file (2)"));
}

// A row whose name fills the field without a terminator, written by another
// process, is read within the field: the adopted app's entry holds the
// field less its terminator, nothing of what follows it.
TEST(ModuleRestart, UnterminatedRowNameIsBounded)
{
    CAppsInstall install;
    CIdleApp live;
    Common::CAppData holder;
    ASSERT_TRUE(holder.Create());
    auto* table = holder.Table();
    table->nCount = 1;
    std::fill(std::begin(table->rows[1].szName), std::end(table->rows[1].szName), L'x');
    table->rows[1].dwProcessId = live.Pid();
    table->rows[2].szName[0] = L'y';
    CAppManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    EXPECT_EQ(1, table->nCount);
    EXPECT_EQ(std::wstring(259, L'x'), manager.RegisteredName(live.Pid()));
    EXPECT_EQ(L'x', table->rows[1].szName[259]) << "the row itself is left as it is";
    manager.UnInit();
}
