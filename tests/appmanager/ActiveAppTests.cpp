// The priority list and the active app (row 0 of the shared table), with
// stand-in apps that hold their running markers as the client library does,
// and kaleoctl's account of who owns the lighting.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "AppRecordTestSupport.h"

using namespace AppTest;
using namespace RecordTest;
using namespace TestEnv;

namespace
{

class ActiveApp : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager.Init());
        ASSERT_TRUE(m_table.Attach());
    }
    void TearDown() override { m_manager.UnInit(); }

    void SetList(const std::wstring& list) { RegWriteString(kAppsKey, L"PriorityList", list); }
    std::wstring List() { return Text(kAppsKey, L"PriorityList"); }
    std::unique_ptr<CIdleApp> App(const std::wstring& name, bool holdMarker = true)
    {
        return StartApp(m_dir.Path(), name, holdMarker);
    }
    // An app killed: its monitor removes its row and chooses the active app
    // again. True once the row is gone and row 0 names `next`.
    bool Gone(CIdleApp& app, DWORD next)
    {
        const DWORD pid = app.Pid();
        app.Kill(); // waits for the exit
        return WaitFor(
            [&] {
                const std::vector<DWORD> pids = m_table.Pids();
                return std::find(pids.begin(), pids.end(), pid) == pids.end() && m_table.Active() == next;
            },
            5000);
    }

    CAppsInstall m_install;
    CScratchDir m_dir; // before the apps: they must end before it goes
    CAppManager m_manager;
    CTableView m_table;
};

} // namespace

TEST_F(ActiveApp, ListOrderWinsOverRegistrationOrder)
{
    SetList(L"a.exe;b.exe");
    auto a = App(L"a.exe");
    auto b = App(L"b.exe");

    ASSERT_TRUE(m_manager.Register(b->Pid()));
    EXPECT_EQ(b->Pid(), m_table.Active());
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    EXPECT_EQ(a->Pid(), m_table.Active()) << "a is listed first";

    ASSERT_TRUE(m_manager.Unregister(a->Pid()));
    EXPECT_EQ(b->Pid(), m_table.Active());
    ASSERT_TRUE(m_manager.Unregister(b->Pid()));
    EXPECT_EQ(0u, m_table.Active());

    ASSERT_TRUE(m_manager.Register(a->Pid()));
    ASSERT_TRUE(m_manager.Register(b->Pid()));
    EXPECT_EQ(a->Pid(), m_table.Active()) << "registering b later changes nothing";
    EXPECT_EQ(L"a.exe;b.exe", List());
}

TEST_F(ActiveApp, DisabledAppIsPassedOver)
{
    SetList(L"a.exe;b.exe");
    WriteDword(RecordKey(L"a.exe"), L"Enable", 0);
    auto a = App(L"a.exe");
    auto b = App(L"b.exe");
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    EXPECT_EQ(0u, m_table.Active());
    ASSERT_TRUE(m_manager.Register(b->Pid()));
    EXPECT_EQ(b->Pid(), m_table.Active());
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    EXPECT_EQ(b->Pid(), m_table.Active());
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(b->Pid(), m_table.Active());
    EXPECT_EQ(0u, Dword(RecordKey(L"a.exe"), L"Enable"));
}

TEST_F(ActiveApp, NewAppsGoToTheFrontOnce)
{
    SetList(L"a.exe;b.exe");
    auto c = App(L"c.exe");
    ASSERT_TRUE(m_manager.Register(c->Pid()));
    EXPECT_EQ(L"c.exe;a.exe;b.exe", List());
    EXPECT_EQ(c->Pid(), m_table.Active()) << "a and b do not run";
    ASSERT_TRUE(m_manager.Register(c->Pid()));
    EXPECT_EQ(L"c.exe;a.exe;b.exe", List());
    // A file name holding the separator would enter as two other entries.
    m_manager.AddToPriorityList(L"x;b.exe");
    EXPECT_EQ(L"c.exe;a.exe;b.exe", List());

    // Into an empty list the name goes alone, as REG_SZ with terminator.
    SetList(L"");
    m_manager.AddToPriorityList(L"x.exe");
    EXPECT_EQ(L"x.exe", List());
    DWORD type = 0, bytes = 0;
    ASSERT_TRUE(RawInfo(kAppsKey, L"PriorityList", type, bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(12u, bytes);

    // A zero-byte value counts as empty too; a missing one is not created.
    WriteRaw(kAppsKey, L"PriorityList", REG_SZ, L"", 0);
    m_manager.AddToPriorityList(L"y.exe");
    EXPECT_EQ(L"y.exe", List());
    {
        Common::CRegKey apps;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppsKey, 0, kAccess, apps.Put()));
        ::RegDeleteValueW(apps.Get(), L"PriorityList");
    }
    m_manager.AddToPriorityList(L"z.exe");
    EXPECT_EQ(L"<missing>", List());
}

TEST_F(ActiveApp, PlainSubstringRule)
{
    SetList(L"cab.exe");
    auto ab = App(L"ab.exe");
    ASSERT_TRUE(m_manager.Register(ab->Pid()));
    EXPECT_EQ(L"cab.exe", List()) << "ab.exe is found inside cab.exe";
    EXPECT_EQ(0u, m_table.Active()) << "ab.exe has no entry of its own";

    // The test is case-sensitive.
    m_manager.AddToPriorityList(L"Cab.exe");
    EXPECT_EQ(L"Cab.exe;cab.exe", List());
}

TEST_F(ActiveApp, ExitOfTheActiveAppSelectsTheNext)
{
    SetList(L"a.exe;b.exe;c.exe");
    auto a = App(L"a.exe");
    auto b = App(L"b.exe");
    ASSERT_TRUE(m_manager.Register(b->Pid()));
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    ASSERT_EQ(a->Pid(), m_table.Active());

    EXPECT_TRUE(Gone(*a, b->Pid())) << "active " << m_table.Active();
    EXPECT_TRUE(Gone(*b, 0)) << "active " << m_table.Active();
}

TEST_F(ActiveApp, LastRegisteredInstanceIsActive)
{
    SetList(L"a.exe");
    auto first = App(L"a.exe");
    auto second = App(L"a.exe");
    ASSERT_TRUE(m_manager.Register(first->Pid()));
    EXPECT_EQ(first->Pid(), m_table.Active());
    ASSERT_TRUE(m_manager.Register(second->Pid()));
    EXPECT_EQ(second->Pid(), m_table.Active());

    // The first still holds the marker: it takes over when the second exits.
    EXPECT_TRUE(Gone(*second, first->Pid())) << "active " << m_table.Active();
}

TEST_F(ActiveApp, OnlyRegisteredAppsHoldingTheirMarkersWin)
{
    SetList(L"a.exe;b.exe;c.exe");
    // a runs and is enabled, but never registered.
    WriteDword(RecordKey(L"a.exe"), L"Enable", 1);
    auto a = App(L"a.exe");
    // b is registered but does not hold its marker.
    auto b = App(L"b.exe", false);
    auto c = App(L"c.exe");
    ASSERT_TRUE(m_manager.Register(b->Pid()));
    EXPECT_EQ(0u, m_table.Active());
    ASSERT_TRUE(m_manager.Register(c->Pid()));
    EXPECT_EQ(c->Pid(), m_table.Active());
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(c->Pid(), m_table.Active());
    EXPECT_FALSE(MarkerExists(MarkerOf(L"b.exe"))) << "a probe must not leave a marker behind";
}

TEST_F(ActiveApp, EntriesMatchRowsWithoutCase)
{
    auto a = App(L"a.exe");
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    SetList(L"A.EXE");
    m_table.Table()->rows[0].dwProcessId = 0;
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(a->Pid(), m_table.Active());
}

// The list is edited by other programs: odd entries are passed over
// without harm, and a list that cannot be read is never overwritten.
TEST_F(ActiveApp, HostileListsAreBounded)
{
    auto a = App(L"a.exe");
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    const std::wstring longEntry(300, L'x');
    SetList(L";;" + longEntry + L".exe;..;a\\b.exe;.\\a.exe;;a.exe;");
    m_table.Table()->rows[0].dwProcessId = 0;
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(a->Pid(), m_table.Active());

    // Without terminator.
    WriteRaw(kAppsKey, L"PriorityList", REG_SZ, L"a.exe", 10);
    m_table.Table()->rows[0].dwProcessId = 0;
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(a->Pid(), m_table.Active());

    // Larger than the module reads: left as it is, nobody wins.
    const std::wstring huge = L"a.exe;" + std::wstring(200 * 1024, L'z');
    SetList(huge);
    m_manager.AddToPriorityList(L"new.exe");
    EXPECT_EQ(huge, List());
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(0u, m_table.Active());

    // Not a string.
    const DWORD binary = 0x12345678;
    WriteRaw(kAppsKey, L"PriorityList", REG_BINARY, &binary, sizeof(binary));
    m_manager.AddToPriorityList(L"new.exe");
    DWORD type = 0, bytes = 0;
    ASSERT_TRUE(RawInfo(kAppsKey, L"PriorityList", type, bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    m_manager.UpdateActiveApp(a->Pid());
    EXPECT_EQ(0u, m_table.Active());

    // An odd trailing byte is no character of the list.
    const wchar_t oddList[] = L"a.exeX";
    WriteRaw(kAppsKey, L"PriorityList", REG_SZ, oddList, 11);
    m_table.Table()->rows[0].dwProcessId = 0;
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(a->Pid(), m_table.Active());

    // An entry whose marker name would not fit 260 characters is never
    // probed, even with a row, an enabled record and a held marker.
    const std::wstring longName = std::wstring(246, L'y') + L".exe";
    WriteDword(RecordKey(longName), L"Enable", 1);
    Common::CHandle marker(::CreateMutexW(nullptr, TRUE, MarkerOf(longName).c_str()));
    ASSERT_TRUE(marker.IsValid());
    ASSERT_EQ(a->Pid(), m_table.Table()->rows[1].dwProcessId);
    longName.copy(m_table.Table()->rows[1].szName, longName.size());
    m_table.Table()->rows[1].szName[longName.size()] = L'\0';
    SetList(longName);
    m_table.Table()->rows[0].dwProcessId = 0;
    m_manager.UpdateActiveApp(0);
    EXPECT_EQ(0u, m_table.Active());
}

TEST_F(ActiveApp, KaleoctlNamesTheOwnerAndTheReasons)
{
    WriteDword(kAppsKey, L"Enable", 1);
    SetList(L"a.exe;b.exe;c.exe;d.exe");
    WriteDword(RecordKey(L"a.exe"), L"Enable", 0);
    WriteDword(RecordKey(L"b.exe"), L"Enable", 1);
    WriteDword(RecordKey(L"c.exe"), L"Enable", 1);
    auto a = App(L"a.exe");
    auto c = App(L"c.exe");
    auto d = App(L"d.exe");
    ASSERT_TRUE(m_manager.Register(a->Pid()));
    ASSERT_TRUE(m_manager.Register(d->Pid()));
    ASSERT_EQ(d->Pid(), m_table.Active());

    std::string output;
    ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"apps", 30000, &output)) << output;
    const std::wstring text = Widen(output);
    const std::wstring dPid = std::to_wstring(d->Pid());
    EXPECT_NE(std::wstring::npos, text.find(L"PriorityList    = \"a.exe;b.exe;c.exe;d.exe\"")) << output;
    EXPECT_NE(std::wstring::npos, text.find(L"Enable (global) = 1")) << output;
    EXPECT_NE(std::wstring::npos, text.find(L"1. a.exe: not enabled (Enable = 0), marker Global\\a_vx held, registered")) << output;
    EXPECT_NE(std::wstring::npos, text.find(L"2. b.exe: enabled, marker Global\\b_vx not held")) << output;
    EXPECT_NE(std::wstring::npos, text.find(L"3. c.exe: enabled, marker Global\\c_vx held, not registered")) << output;
    EXPECT_NE(std::wstring::npos,
              text.find(L"4. d.exe: enabled, marker Global\\d_vx held, registered (pid " + dPid + L") -> selected"))
        << output;
    EXPECT_NE(std::wstring::npos, text.find(L"Owner: d.exe (pid " + dPid + L") owns the lighting")) << output;
    EXPECT_NE(std::wstring::npos, text.find(L"active app (row 0) = pid " + dPid + L" (d.exe)")) << output;
    EXPECT_NE(std::wstring::npos,
              text.find(L"DevicesSupported = 0x000000BF (keyboard, mouse, headset, mousepad, keypad, kaleolink, "
                        L"homelighting)"))
        << output;
    EXPECT_NE(std::wstring::npos, text.find(L"Author           = \"Kaleo developer\"")) << output;
    EXPECT_EQ(std::wstring::npos, text.find(L"global Enable is not 1")) << output;
    EXPECT_FALSE(MarkerExists(MarkerOf(L"b.exe"))) << "the tool's probe must not leave a marker behind";

    // The global switch off is called out.
    WriteDword(kAppsKey, L"Enable", 0);
    ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"apps", 30000, &output)) << output;
    EXPECT_NE(std::string::npos, output.find("the global Enable is not 1")) << output;
}
