// "kaleoctl status" over a few states of the system: its verdict lines, in
// their order, and its exit code. The host is played by this process on a
// control pipe of its own name (answering, or silent as a hung host), and
// the shared app table is a section this process fills.
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppData.h"
#include "Handles.h"
#include "HostProtocol.h"
#include "TestEnv.h"

using namespace TestEnv;

namespace
{
const std::wstring kApps = L"Software\\Vexel Kaleo SDK\\Apps";
const std::wstring kHostName = L"KaleoStatusTest";
const std::wstring kHostPipe = std::wstring(Host::kHostPipePrefix) + kHostName;

enum class HostState { Absent, Answering, Silent };

struct CCase
{
    const char* name;
    HostState host;
    bool table;         // the shared table with two apps, the first owning the lighting
    const wchar_t* log; // lines of a log file in the install, or none
    int exitCode;
    std::vector<std::string> verdicts; // each the start of a line, in this order
};

// One answer to "status", as the host gives it: three modules, all running.
class CAnsweringHost
{
public:
    CAnsweringHost()
    {
        m_pipe.Reset(::CreateNamedPipeW(kHostPipe.c_str(), PIPE_ACCESS_DUPLEX,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                        sizeof(Host::_HOSTREPLY), sizeof(Host::_HOSTREQUEST), 0, nullptr));
        m_thread = std::thread([this] { Serve(); });
    }
    ~CAnsweringHost()
    {
        // Unblocks a connect nobody came to.
        Common::CHandle client(::CreateFileW(kHostPipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        client.Reset();
        m_thread.join();
    }

private:
    void Serve()
    {
        if (!::ConnectNamedPipe(m_pipe.Get(), nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED)
            return;
        Host::_HOSTREQUEST request = {};
        DWORD bytes = 0;
        if (!::ReadFile(m_pipe.Get(), &request, sizeof(request), &bytes, nullptr))
            return;
        static Host::_HOSTREPLY reply;
        std::memset(&reply, 0, sizeof(reply));
        reply.magic = Host::kHostProtocolMagic;
        reply.version = Host::kHostProtocolVersion;
        reply.command = request.command;
        reply.processId = 4321;
        reply.moduleCount = 3;
        reply.runningMask = 7;
        wcscpy(reply.text, L"VxSvcHost KaleoStatusTest, pid 4321, 3 module(s)\r\n[0] running A.dll (InitServiceModule "
                           L"returned 0)\r\n[1] running B.dll (InitServiceModule returned 0)\r\n[2] running C.dll "
                           L"(InitServiceModule returned 0)");
        ::WriteFile(m_pipe.Get(), &reply, sizeof(reply), &bytes, nullptr);
        // Until the client has read it and closed.
        BYTE scratch[16];
        ::ReadFile(m_pipe.Get(), scratch, sizeof(scratch), &bytes, nullptr);
    }

    Common::CHandle m_pipe;
    std::thread m_thread;
};

// Two apps; the first, Racer.exe, is the active one.
class CFakeTable
{
public:
    CFakeTable()
    {
        m_section.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             Common::APP_TABLE_SIZE, Common::APP_TABLE_NAME));
        m_view.Reset(::MapViewOfFile(m_section.Get(), FILE_MAP_WRITE, 0, 0, 0));
        auto* table = static_cast<Common::CAppData::_APPTABLE*>(m_view.Get());
        if (!table)
            return;
        std::memset(table, 0, sizeof(*table));
        table->nCount = 2;
        table->rows[0].dwProcessId = 111;
        wcscpy(table->rows[1].szName, L"Racer.exe");
        table->rows[1].dwProcessId = 111;
        wcscpy(table->rows[2].szName, L"Notes.exe");
        table->rows[2].dwProcessId = 222;
    }

private:
    Common::CHandle m_section;
    Common::CMappedView m_view;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

void PrintTo(const CCase& c, std::ostream* os)
{
    *os << c.name;
}

class StatusCommand : public ::testing::TestWithParam<CCase>
{
protected:
    void SetUp() override
    {
        // A catalogue, the global switch on, and no configuration for the
        // network device managers: what an install leaves.
        const char catalogue[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<devices>\r\n"
                                 "  <device pid=\"0x0084\" file=\"KaleoKeyboardPlugin.dll\" name=\"HID keyboard\"/>\r\n"
                                 "</devices>\r\n";
        WriteFileBytes(m_install.InstallPath() + L"\\Devices.xml", catalogue, sizeof(catalogue) - 1);
        ::CreateDirectoryW((m_install.InstallPath() + L"\\bin").c_str(), nullptr);
        RegWriteDword(kApps, L"Enable", 1);
        RegDeleteTreeW32(L"Software\\Vexel Kaleo SDK\\Devices\\SmartLighting");
        RegDeleteTreeW32(L"Software\\Vexel Kaleo SDK\\Devices\\IoT");
    }

    void WriteLog(const std::wstring& text)
    {
        WriteFileBytes(m_install.LogsDir() + L"\\Broken.log", text.data(), text.size() * sizeof(wchar_t));
    }

    CInstallFixture m_install;
};

TEST_P(StatusCommand, ShowsVerdictsAndExitCode)
{
    const CCase& c = GetParam();
    std::unique_ptr<CAnsweringHost> answering;
    Common::CHandle silent;
    if (c.host == HostState::Answering)
        answering.reset(new CAnsweringHost());
    else if (c.host == HostState::Silent)
        silent.Reset(::CreateNamedPipeW(kHostPipe.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1,
                                        sizeof(Host::_HOSTREPLY), sizeof(Host::_HOSTREQUEST), 0, nullptr));
    std::unique_ptr<CFakeTable> table(c.table ? new CFakeTable() : nullptr);
    if (c.log)
        WriteLog(c.log);

    std::string output;
    const ULONGLONG started = ::GetTickCount64();
    const DWORD code = RunProcess(BinDir() + L"\\kaleoctl.exe", L"status --name " + kHostName, 30000, &output);
    const ULONGLONG elapsed = ::GetTickCount64() - started;

    EXPECT_EQ(static_cast<DWORD>(c.exitCode), code) << output;
    // A silent host costs its probe's second, not more.
    EXPECT_LT(elapsed, 8000u) << output;
    const std::vector<std::string> lines = Lines(output);
    size_t at = 0;
    for (const std::string& verdict : c.verdicts)
    {
        while (at < lines.size() && lines[at].compare(0, verdict.size(), verdict) != 0)
            ++at;
        EXPECT_LT(at, lines.size()) << "no line starting with \"" << verdict << "\" in order in:\n" << output;
    }
}

const wchar_t kStarted[] = L"2026-01-02,10:00:00:000,INFO,A.cpp (1),started\r\n";
const wchar_t kRoutineEnds[] =
    L"2026-01-02,10:00:02:000,ERROR,R.cpp (88),Reader | DisconnectNamedPipe 328 = FALSE | error = 536\r\n"
    L"2026-01-02,10:00:03:000,ERROR,M.cpp (249),Error (995): I/O operation aborted.\r\n"
    L"2026-01-02,10:00:04:000,ERROR,R.cpp (196),Reader | bReadFile = FALSE | pipe = 380 | error = 109\r\n"
    L"2026-01-02,10:00:05:000,ERROR,AppData.cpp (24),[AppData] Error opening file (2)\r\n";
const std::wstring kRealError = std::wstring(kStarted) +
                                L"2026-01-02,10:00:01:000,ERROR,B.cpp (2),CreateNamedPipe failed\r\n" + kRoutineEnds;
const std::wstring kOnlyRoutine = std::wstring(kStarted) + kRoutineEnds;

const CCase kCases[] = {
    {"NothingRunning", HostState::Absent, false, nullptr, 1,
     {"Host: not running", "Apps: no shared app table", "Devices: ", "Network devices: 0 attached",
      "Log: no error lines", "Status: needs attention (host, apps)"}},
    {"HostWithModulesAndApps", HostState::Answering, true, nullptr, 0,
     {"Host: running (pid 4321), 3 module(s)", "  [0] running A.dll", "  [2] running C.dll",
      "Apps: 2 registered, Racer.exe (pid 111) owns the lighting", "  row 2: pid 222  Notes.exe",
      "Network devices: 0 attached through plug-ins (hue 0, iot 0); hue module not running", "Log: no error lines",
      "Status: healthy"}},
    {"HungHost", HostState::Silent, true, nullptr, 1,
     {"Host: not answering", "Apps: 2 registered", "Status: needs attention (host)"}},
    {"ErrorInLog", HostState::Answering, true, kRealError.c_str(), 1,
     {"Host: running", "Log: 1 error line(s) in 1 file(s), the last 1 (and 4 routine",
      "  Broken.log: 2026-01-02,10:00:01:000,ERROR,B.cpp (2),CreateNamedPipe failed", "Status: needs attention (log)"}},
    // Ended waits and closed pipes are logged as errors; they are no reason to worry.
    {"OnlyRoutineEndsInLog", HostState::Answering, true, kOnlyRoutine.c_str(), 0,
     {"Host: running", "Log: 4 error line(s) in 1 file(s), each routine", "Status: healthy"}},
};

INSTANTIATE_TEST_SUITE_P(States, StatusCommand, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CCase>& info) { return std::string(info.param.name); });

} // namespace
