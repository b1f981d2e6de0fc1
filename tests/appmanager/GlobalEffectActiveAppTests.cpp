// The active-app thread of a running manager: which global effect follows
// each apps-changed pulse, under the global and the per-app "Enable".
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "AppData.h"
#include "AppManager.h"
#include "AppRecordTestSupport.h"
#include "EffectRingTestView.h"
#include "NamedEvents.h"
#include "TestEnv.h"

using namespace EffectTest;
using namespace TestEnv;

namespace
{
// Records the effects the active-app thread sets instead of writing rings.
class CRecordingManager : public CAppManager
{
public:
    ~CRecordingManager() override { UnInit(); }  // no call may reach a half-destroyed object

    void SetGlobalEffect(Common::_EFFECTYPE effect, std::wstring name) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_effects.push_back(effect);
        m_names.push_back(name);
    }
    std::vector<Common::_EFFECTYPE> Effects() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_effects;
    }
    std::vector<std::wstring> Names() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_names;
    }

private:
    mutable std::mutex m_lock;
    std::vector<Common::_EFFECTYPE> m_effects;
    std::vector<std::wstring> m_names;
};

class GlobalEffectActiveApp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(Common::KALEO_APPS_KEY);
        RegWriteString(Common::KALEO_APPS_KEY, L"PriorityList", L"game.exe");
        RegWriteDword(AppKey(L"game.exe"), L"Enable", 1);
        ASSERT_TRUE(::CopyFileW((BinDir() + L"\\IdleApp.exe").c_str(), (m_dir / L"game.exe").c_str(), FALSE));
        ASSERT_TRUE(m_app.Start(m_dir / L"game.exe", L"--exit-after 60000"));
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager.Init());
        // The app as registration lists it: row 1 and the active app.
        m_table.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Common::APP_TABLE_NAME));
        ASSERT_TRUE(m_table.IsValid());
        m_view.Reset(::MapViewOfFile(m_table.Get(), FILE_MAP_ALL_ACCESS, 0, 0, Common::APP_TABLE_SIZE));
        ASSERT_TRUE(m_view.IsValid());
        auto* table = static_cast<Common::CAppData::_APPTABLE*>(m_view.Get());
        wcscpy_s(table->rows[1].szName, L"game.exe");
        table->rows[1].dwProcessId = m_app.Pid();
        table->rows[0].dwProcessId = m_app.Pid();
        table->nCount = 1;
        ASSERT_TRUE(WaitFor([] { return Common::CHandle(::OpenEventW(SYNCHRONIZE, FALSE, Common::APPS_CHANGED_EVENT)).IsValid(); },
                            5000));
    }
    void TearDown() override { m_manager.UnInit(); }

    // Pulses apps-changed until the thread has set `calls` effects in all.
    // A pulse that comes while the thread is busy is lost, so it may take
    // more than one.
    bool PulseUntil(size_t calls)
    {
        for (int attempt = 0; attempt < 50; ++attempt)
        {
            Common::PulseNamedEvent(Common::APPS_CHANGED_EVENT);
            if (WaitFor([&] { return m_manager.Effects().size() >= calls; }, 1000))
                return m_manager.Effects().size() == calls;
        }
        return false;
    }

    CInstallFixture m_install;
    CScratchDir m_dir;
    CChildProcess m_app;
    CRecordingManager m_manager;
    Common::CHandle m_table;
    Common::CMappedView m_view;
};

using CEffects = std::vector<Common::_EFFECTYPE>;
} // namespace

TEST_F(GlobalEffectActiveApp, BothSwitchesOnAlternateFourteenAndSixteen)
{
    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 1);
    ASSERT_TRUE(PulseUntil(1));
    ASSERT_TRUE(PulseUntil(2));
    ASSERT_TRUE(PulseUntil(3));
    EXPECT_EQ((CEffects{14, 16, 14}), m_manager.Effects());
    for (const std::wstring& name : m_manager.Names())
        EXPECT_EQ(L"game.exe", name);
}

TEST_F(GlobalEffectActiveApp, GlobalSwitchOffReleasesOnceUntilSwitchedOn)
{
    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 0);
    ASSERT_TRUE(PulseUntil(1));
    for (int i = 0; i < 10; ++i)
    {
        Common::PulseNamedEvent(Common::APPS_CHANGED_EVENT);
        ::Sleep(30);
    }
    ::Sleep(200);
    EXPECT_EQ((CEffects{13}), m_manager.Effects()) << "a burst of pulses releases the lighting once";

    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 1);
    ASSERT_TRUE(PulseUntil(2));
    EXPECT_EQ((CEffects{13, 14}), m_manager.Effects());
}

TEST_F(GlobalEffectActiveApp, MissingGlobalSwitchOrDisabledAppReleases)
{
    // No "Enable" on the Apps key reads as 0.
    ASSERT_TRUE(PulseUntil(1));
    EXPECT_EQ((CEffects{13}), m_manager.Effects());

    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 1);
    ASSERT_TRUE(PulseUntil(2));
    RegWriteDword(AppKey(L"game.exe"), L"Enable", 0);
    ASSERT_TRUE(PulseUntil(3));
    EXPECT_EQ((CEffects{13, 14, 13}), m_manager.Effects());
}

TEST_F(GlobalEffectActiveApp, ActiveAppNotListedOrWithoutRecordSetsNothing)
{
    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 1);
    auto* table = static_cast<Common::CAppData::_APPTABLE*>(m_view.Get());
    table->rows[0].dwProcessId = m_app.Pid() + 4;  // owner not in the list
    for (int i = 0; i < 5; ++i)
    {
        Common::PulseNamedEvent(Common::APPS_CHANGED_EVENT);
        ::Sleep(30);
    }
    table->rows[0].dwProcessId = m_app.Pid();
    RegDeleteTreeW32(AppKey(L"game.exe"));
    for (int i = 0; i < 5; ++i)
    {
        Common::PulseNamedEvent(Common::APPS_CHANGED_EVENT);
        ::Sleep(30);
    }
    ::Sleep(100);
    EXPECT_TRUE(m_manager.Effects().empty());

    // Hostile row name: a path instead of a file name.
    RegWriteDword(AppKey(L"game.exe"), L"Enable", 1);
    RegWriteDword(AppKey(L"x\\game.exe"), L"Enable", 1);
    wcscpy_s(table->rows[1].szName, L"x\\game.exe");
    for (int i = 0; i < 5; ++i)
    {
        Common::PulseNamedEvent(Common::APPS_CHANGED_EVENT);
        ::Sleep(30);
    }
    ::Sleep(100);
    EXPECT_TRUE(m_manager.Effects().empty()) << "a row name with a separator is not an app record";
}

namespace
{
// Holds the first effect the active-app thread sets until the test lets it
// go, and records the effects that thread sets.
class CGatedManager : public CAppManager
{
public:
    CGatedManager()
        : m_testThread(::GetCurrentThreadId()), m_blocked(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_gate(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~CGatedManager() override
    {
        Release();
        UnInit();
    }

    void SetGlobalEffect(Common::_EFFECTYPE effect, std::wstring name) override
    {
        if (::GetCurrentThreadId() == m_testThread)
            return;
        if (!m_held.exchange(true))
        {
            ::SetEvent(m_blocked.Get());
            ::WaitForSingleObject(m_gate.Get(), 10000);
        }
        std::lock_guard<std::mutex> guard(m_lock);
        m_effects.emplace_back(effect, name);
    }
    bool WaitBlocked() { return ::WaitForSingleObject(m_blocked.Get(), 5000) == WAIT_OBJECT_0; }
    void Release() { ::SetEvent(m_gate.Get()); }
    std::vector<std::pair<Common::_EFFECTYPE, std::wstring>> Effects() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_effects;
    }

private:
    const DWORD m_testThread;
    Common::CHandle m_blocked;
    Common::CHandle m_gate;
    std::atomic<bool> m_held{false};
    mutable std::mutex m_lock;
    std::vector<std::pair<Common::_EFFECTYPE, std::wstring>> m_effects;
};
} // namespace

// A registration that changes the active app while the thread is busy
// setting the previous app's effect: its pulse finds no waiter, yet the
// lighting ends up following the new app.
TEST(ActiveAppThread, ChangeWhileBusyIsNotLost)
{
    AppTest::CAppsInstall install;
    CScratchDir dir;
    RegWriteDword(Common::KALEO_APPS_KEY, L"Enable", 1);
    RegWriteString(Common::KALEO_APPS_KEY, L"PriorityList", L"a.exe;b.exe");
    auto a = RecordTest::StartApp(dir.Path(), L"a.exe");
    auto b = RecordTest::StartApp(dir.Path(), L"b.exe");
    CGatedManager manager;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
    AppTest::CTableView table;
    ASSERT_TRUE(table.Attach());

    ASSERT_TRUE(manager.Register(b->Pid()));
    ASSERT_TRUE(manager.WaitBlocked());
    ASSERT_TRUE(manager.Register(a->Pid()));
    ASSERT_EQ(a->Pid(), table.Active()) << "a is listed first";
    manager.Release();

    using CEffect = std::pair<Common::_EFFECTYPE, std::wstring>;
    EXPECT_TRUE(WaitFor([&] { return manager.Effects().size() >= 2; }, 3000));
    ::Sleep(200);  // nothing further may follow
    EXPECT_EQ((std::vector<CEffect>{{14, L"b.exe"}, {16, L"a.exe"}}), manager.Effects());
    manager.UnInit();
}
