// The operator tool's app stand-in and table printer: what they send, what
// they hold, and how they read a table another process may have spoiled.
#include <gtest/gtest.h>

#include "RequestChannelHelpers.h"

using namespace ChannelTest;
using namespace TestEnv;

namespace
{
std::string FileText(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

DWORD Kaleoctl(const std::wstring& args, std::string* output = nullptr)
{
    return RunProcess(BinDir() + L"\\kaleoctl.exe", args, 30000, output);
}

class StandInApp : public CChannelFixture
{
};
} // namespace

// A table section made by someone else: a count beyond the table and a name
// that fills its field without a terminator.
TEST(TablePrinter, BoundsTheCountAndTheNamesItFinds)
{
    std::string output;
    EXPECT_EQ(1u, Kaleoctl(L"table", &output));
    EXPECT_NE(std::string::npos, output.find("app table: not found")) << output;

    Common::CHandle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 Common::APP_TABLE_SIZE, Common::APP_TABLE_NAME));
    ASSERT_TRUE(mapping.IsValid());
    Common::CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, Common::APP_TABLE_SIZE));
    ASSERT_TRUE(view.IsValid());
    auto* table = static_cast<Common::CAppData::_APPTABLE*>(view.Get());
    table->rows[0].dwProcessId = 1234;
    for (wchar_t& c : table->rows[1].szName)
        c = L'A';
    table->rows[1].dwProcessId = 1234;
    table->rows[1].dwReserved = 0x42;  // right behind the name: must not show
    ::wcscpy(table->rows[2].szName, L"b.exe");
    table->rows[2].dwProcessId = 77;

    table->nCount = 77;
    ASSERT_EQ(0u, Kaleoctl(L"table", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("warning: the table's count is 77, outside 0..50; showing 50 row(s)"))
        << output;
    EXPECT_NE(std::string::npos, output.find("active pid 1234")) << output;
    EXPECT_NE(std::string::npos, output.find("row 1: pid 1234  " + std::string(260, 'A') + "\n")) << output;
    EXPECT_NE(std::string::npos, output.find("row 2: pid 77  b.exe\n")) << output;
    EXPECT_NE(std::string::npos, output.find("row 50: pid 0  \n")) << output;
    EXPECT_EQ(std::string::npos, output.find("row 51")) << output;

    table->nCount = -3;
    ASSERT_EQ(0u, Kaleoctl(L"table", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("count is -3, outside 0..50; showing 0 row(s)")) << output;
    EXPECT_EQ(std::string::npos, output.find("row 1")) << output;
}

TEST(StandInCommandLine, MalformedCommandsAreRefusedBeforeAnythingIsSent)
{
    for (const wchar_t* args :
         {L"app", L"app frob", L"app register --ring --title x", L"app register --for 10 --abrupt-after 10",
          L"app register --pid abc", L"app register --pid 0", L"app register --devices 0x",
          L"app register --devices 0x1FFFFFFFF", L"app unregister --title x", L"app register extra"})
    {
        std::string output;
        EXPECT_EQ(2u, Kaleoctl(args, &output)) << Narrow(args) << "\n" << output;
        EXPECT_NE(std::string::npos, output.find("usage: kaleoctl app")) << Narrow(args);
    }
}

// A timed hold unregisters through its own channel and exits 0.
TEST_F(StandInApp, TimedHoldUnregistersThroughItsChannel)
{
    const std::wstring exe = CopyAs(L"kaleoctl.exe", L"timed.exe");
    std::string output;
    ASSERT_EQ(0u, RunTool(exe, L"app run --ring --for 800", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("(timed.exe) through the request ring\nholding pid")) << output;
    EXPECT_NE(std::string::npos, output.find("\nunregistered pid ")) << output;
    // The stand-in saw its row go; the call is recorded once it returns.
    ASSERT_TRUE(m_manager->WaitForCalls(2, 2000));
    ASSERT_EQ(2u, m_manager->Calls().size());
    EXPECT_EQ(CCall::REGISTER_PID, m_manager->Calls()[0].kind);
    EXPECT_EQ(CCall::UNREGISTER, m_manager->Calls()[1].kind);
    EXPECT_TRUE(m_table.Pids().empty());
}

// An abrupt end leaves the row to the process monitor; while it ran, the
// stand-in held the marker named after its executable.
TEST_F(StandInApp, AbruptEndHoldsTheMarkerAndNeverUnregisters)
{
    const std::wstring exe = CopyAs(L"kaleoctl.exe", L"Quit.Game.exe");
    CChildProcess app;
    ASSERT_TRUE(app.Start(exe, L"app register --abrupt-after 1500", m_scratch / L"quit.txt"));
    ASSERT_TRUE(WaitFor([&] { return FileText(m_scratch / L"quit.txt").find("ending abruptly in") != std::string::npos; },
                        15000))
        << FileText(m_scratch / L"quit.txt");
    EXPECT_NE(std::string::npos, FileText(m_scratch / L"quit.txt").find("holding running marker Global\\quit.game_vx"));
    {
        Common::CHandle marker(::OpenMutexW(SYNCHRONIZE, FALSE, L"Global\\quit.game_vx"));
        EXPECT_TRUE(marker.IsValid());
    }
    EXPECT_EQ(std::vector<DWORD>{app.Pid()}, m_table.Pids());
    EXPECT_EQ(9u, app.Wait(10000));
    EXPECT_TRUE(WaitFor([&] { return m_table.Pids().empty(); }, 5000));
    EXPECT_EQ(0u, CallsOf(CCall::UNREGISTER, app.Pid()));
    EXPECT_EQ(0u, m_manager->RegisteredCount());
}
