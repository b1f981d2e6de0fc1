// BenchRegistration: how long an app waits to be registered, from its first
// attempt to open the control pipe until its row is in the shared app table;
// beside a plain message-pipe round trip of the same 3,600 bytes measured in
// the same run.
//
// The app manager runs in this process as its host runs it: the module DLL
// is loaded and driven through its exports, so any build of the module can
// be measured with the same program (scripts/bench-registration.sh puts this
// tree's module beside an earlier one). It runs against a temporary install
// (the SDK's registry root is saved first and put back exactly afterwards).
//
// Each round starts a live app (IdleApp.exe from this folder), registers it
// through the pipe as the SDK's client does, unregisters it
// through the request ring and ends it. Two kinds of rounds:
//   - free channel: the app comes once the server's pause after the previous
//     request is over, so its wait is all beyond the pacing;
//   - back to back: the app comes as soon as the previous row is there, so
//     it also waits for the rest of that pause (the pacing: 500 ms after the
//     server has finished the previous request).
//
//   BenchRegistration.exe [--module PATH] [--count N] [--raw N]
//                         (defaults: VxAppManager.dll beside it, 100, 1000)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppData.h"
#include "Handles.h"
#include "NamedEvents.h"
#include "PathText.h"
#include "RegisterData.h"
#include "Registry.h"
#include "RequestChannel.h"
#include "ServiceEntry.h"
#include "SharedSection.h"
#include "BenchSupport.h"

using namespace Common;
using namespace AppRequests;
using namespace BenchSupport;

namespace
{
constexpr DWORD kBlockSize = sizeof(_REGISTERDATATYPE);
constexpr DWORD kStepTimeoutMs = 10000;
// The server's pause after each request, and a margin past it (for the end
// of the previous request) for rounds that should find the channel free.
constexpr double kRequestPauseMs = 500.0;
constexpr double kSettleMs = 100.0;


std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Common::FolderPart(path);
}

// ---------------------------------------------------------------------------

// A read view of the shared app table.
class CTable
{
public:
    bool Attach()
    {
        return m_section.Open(APP_TABLE_NAME, APP_TABLE_SIZE, FILE_MAP_READ) == ERROR_SUCCESS;
    }
    bool Lists(DWORD pid) const
    {
        const auto* table = static_cast<const volatile CAppData::_APPTABLE*>(m_section.View());
        const int raw = table->nCount;
        const int count = raw < 0 ? 0 : (raw > APP_TABLE_MAX_ROWS ? APP_TABLE_MAX_ROWS : raw);
        for (int i = 1; i <= count; ++i)
        {
            if (table->rows[i].dwProcessId == pid)
                return true;
        }
        return false;
    }

private:
    CSharedSection m_section;
};

// A live app for one round.
class CChild
{
public:
    bool Start(const std::wstring& exe)
    {
        std::wstring commandLine = L"\"" + exe + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        ::CloseHandle(pi.hThread);
        m_process.Reset(pi.hProcess);
        m_pid = pi.dwProcessId;
        return true;
    }
    ~CChild() { Kill(); }
    void Kill()
    {
        if (!m_process)
            return;
        ::TerminateProcess(m_process.Get(), 0);
        ::WaitForSingleObject(m_process.Get(), 5000);
        m_process.Reset();
    }
    DWORD Pid() const { return m_pid; }

private:
    CHandle m_process;
    DWORD m_pid = 0;
};

template <typename F>
bool SpinUntil(F cond, DWORD timeoutMs)
{
    const double end = NowMs() + timeoutMs;
    while (!cond())
    {
        if (NowMs() > end)
            return false;
        ::Sleep(0);
    }
    return true;
}

// Connects to a free instance of a pipe, waiting while it is busy or briefly absent.
CHandle OpenPipe(const wchar_t* name, DWORD access)
{
    const double end = NowMs() + kStepTimeoutMs;
    for (;;)
    {
        CHandle pipe(::CreateFileW(name, access, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || NowMs() > end)
            return pipe;
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name, 200);
        else
            ::Sleep(1);
    }
}

// Writes the ring slot as a client does and pulses the wake-up event.
bool RingUnregister(DWORD pid)
{
    CSharedSection section;
    if (section.Open(REQUEST_RING_NAME, REQUEST_RING_SIZE) != ERROR_SUCCESS)
        return false;
    auto* ring = section.As<_REQUESTRING>();
    DWORD index = ring->dwWriteIndex;
    if (index >= REQUEST_RING_SLOTS)
        index = 0;
    ring->slots[index].dwRequest = 0;
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&ring->slots[index].dwProcessId), static_cast<LONG>(pid));
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&ring->dwWriteIndex),
                          static_cast<LONG>((index + 1) % REQUEST_RING_SLOTS));
    PulseNamedEvent(REQUEST_RING_EVENT);
    return true;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// Sends the block as the SDK's client does: opens the control pipe (waiting
// while it is busy), writes, waits until the server has read the block and
// closes. A client that closes before the read loses its block on modules
// that drop a client gone before its connect was seen, so this one waits
// and every module can be measured alike.
bool SendBlock(const _REGISTERDATATYPE& block)
{
    CHandle pipe = OpenPipe(CONTROL_PIPE_NAME, GENERIC_WRITE);
    DWORD written = 0;
    if (!pipe || !::WriteFile(pipe.Get(), &block, kBlockSize, &written, nullptr) || written != kBlockSize)
        return false;
    ::FlushFileBuffers(pipe.Get());
    return true;
}

// One registration round: how long the app waited for its row, from its
// first attempt to open the pipe (at start). False (with a message) when a
// step did not happen.
bool RegistrationRound(const std::wstring& app, CTable& table, double notBefore, double& start, double& rowAt)
{
    CChild child;
    if (!child.Start(app))
    {
        std::fwprintf(stderr, L"cannot start %ls (%lu)\n", app.c_str(), ::GetLastError());
        return false;
    }
    _REGISTERDATATYPE block;
    ::ZeroMemory(&block, sizeof(block));
    block.dwRequest = 1;
    block.dwProcessId = child.Pid();
    ::wcscpy(block.szTitle, L"Benchmark app");

    while (NowMs() < notBefore)
        ::Sleep(1);
    start = NowMs();
    if (!SendBlock(block))
    {
        std::fwprintf(stderr, L"control pipe not reachable (%lu)\n", ::GetLastError());
        return false;
    }
    if (!SpinUntil([&] { return table.Lists(child.Pid()); }, kStepTimeoutMs))
    {
        std::fwprintf(stderr, L"registration of pid %lu not seen\n", child.Pid());
        return false;
    }
    rowAt = NowMs();

    // Out through the ring, while the pipe server takes its pause.
    if (!RingUnregister(child.Pid()) ||
        !SpinUntil([&] { return !table.Lists(child.Pid()); }, kStepTimeoutMs))
    {
        std::fwprintf(stderr, L"unregistration of pid %lu not seen\n", child.Pid());
        return false;
    }
    return true;
}


// lastRowAt: when the previous request's row appeared (0 for none); updated.
// waited: first attempt to row, per round.
bool RunRounds(const std::wstring& app, CTable& table, unsigned rounds, bool backToBack,
               std::vector<double>& waited, double& lastRowAt)
{
    for (unsigned i = 0; i < rounds; ++i)
    {
        // The previous request's pause starts after its row is written.
        const double notBefore = backToBack ? 0.0 : lastRowAt + kRequestPauseMs + kSettleMs;
        double start = 0.0, rowAt = 0.0;
        if (!RegistrationRound(app, table, notBefore, start, rowAt))
            return false;
        waited.push_back(rowAt - start);
        lastRowAt = rowAt;
        if ((i + 1) % 25 == 0 || i + 1 == rounds)
        {
            std::wprintf(L"  %ls %u/%u\n", backToBack ? L"back to back" : L"free channel", i + 1, rounds);
            std::fflush(stdout);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The baseline: a message pipe of our own whose server reads the block and
// answers one byte, connection by connection like the control pipe.

class CRawServer
{
public:
    explicit CRawServer(const std::wstring& name) : m_name(name)
    {
        m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_thread = std::thread([this] { Run(); });
    }
    ~CRawServer()
    {
        ::SetEvent(m_stop.Get());
        // A blocked connect ends when one last client comes by.
        CHandle wake(::CreateFileW(m_name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
        wake.Reset();
        if (m_thread.joinable())
            m_thread.join();
    }
    CRawServer(const CRawServer&) = delete;
    CRawServer& operator=(const CRawServer&) = delete;

private:
    void Run()
    {
        std::vector<BYTE> buffer(kBlockSize);
        while (::WaitForSingleObject(m_stop.Get(), 0) == WAIT_TIMEOUT)
        {
            CHandle pipe(::CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kBlockSize,
                                            kBlockSize, 0, nullptr));
            if (!pipe)
                return;
            if (!::ConnectNamedPipe(pipe.Get(), nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED)
                continue;
            DWORD bytes = 0;
            if (::ReadFile(pipe.Get(), buffer.data(), kBlockSize, &bytes, nullptr) && bytes == kBlockSize)
            {
                const BYTE ack = 1;
                ::WriteFile(pipe.Get(), &ack, 1, &bytes, nullptr);
                ::FlushFileBuffers(pipe.Get());
            }
            ::DisconnectNamedPipe(pipe.Get());
        }
    }
    std::wstring m_name;
    CHandle m_stop;
    std::thread m_thread;
};

bool RawRoundTrip(const std::wstring& name, double& ms)
{
    CHandle pipe = OpenPipe(name.c_str(), GENERIC_READ | GENERIC_WRITE);
    if (!pipe)
        return false;
    std::vector<BYTE> block(kBlockSize, 0x5A);
    const double start = NowMs();
    DWORD bytes = 0;
    BYTE ack = 0;
    if (!::WriteFile(pipe.Get(), block.data(), kBlockSize, &bytes, nullptr) || bytes != kBlockSize)
        return false;
    if (!::ReadFile(pipe.Get(), &ack, 1, &bytes, nullptr) || bytes != 1)
        return false;
    ms = NowMs() - start;
    return true;
}

bool ParseCount(int argc, char** argv, const char* name, unsigned& value)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], name) != 0)
            continue;
        if (i + 1 >= argc)
            return false;
        char* end = nullptr;
        const unsigned long parsed = std::strtoul(argv[i + 1], &end, 10);
        if (end == argv[i + 1] || *end != '\0' || parsed == 0 || parsed > 100000)
            return false;
        value = static_cast<unsigned>(parsed);
    }
    return true;
}

// The module as its host drives it: loaded, started and stopped through
// its exports.
class CModule
{
public:
    using ServiceCall = ServiceHost::PFN_SERVICE_ENTRY;
    explicit CModule(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str()))
    {
        if (!m_module)
            return;
        m_init = Resolve(ServiceHost::INIT_EXPORT);
        m_uninit = Resolve(ServiceHost::UNINIT_EXPORT);
    }
    ~CModule()
    {
        if (m_started)
            m_uninit(0);
    }
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    bool Start()
    {
        m_started = m_init && m_uninit && m_init(0) == 0;
        return m_started;
    }

private:
    ServiceCall Resolve(const char* name) const
    {
        return reinterpret_cast<ServiceCall>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name)));
    }

    Common::CModule m_module;
    ServiceCall m_init = nullptr;
    ServiceCall m_uninit = nullptr;
    bool m_started = false;
};

void PrintFigures(const wchar_t* what, const std::vector<double>& values)
{
    std::wprintf(L"  %-34ls %8.3f %8.3f\n", what, Percentile(values, 0.5), Percentile(values, 0.99));
}

int Run(const std::wstring& modulePath, unsigned rounds, unsigned rawRounds)
{
    const std::wstring app = ExeFolder() + L"\\IdleApp.exe";
    if (::GetFileAttributesW(app.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        std::fwprintf(stderr, L"needs %ls (built with the tests)\n", app.c_str());
        return 1;
    }
    if (::WaitNamedPipeW(CONTROL_PIPE_NAME, 0) || ::GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        std::fwprintf(stderr, L"an app manager is running already; stop it first\n");
        return 1;
    }

    CRegistryRootBackup backup;
    CTempInstall install;
    if (RegSetString(KALEO_ROOT_KEY, KALEO_INSTALL_PATH_VALUE, install.Path()) != ERROR_SUCCESS ||
        RegSetString(KALEO_APPS_KEY, L"PriorityList", L"") != ERROR_SUCCESS)
    {
        std::fwprintf(stderr, L"cannot prepare the registry\n");
        return 1;
    }

    std::vector<double> free, backToBack;
    std::vector<double> raw;
    {
        CModule module(modulePath);
        if (!module.Start())
        {
            std::fwprintf(stderr, L"cannot start the app manager in %ls (%lu)\n", modulePath.c_str(), ::GetLastError());
            return 1;
        }
        CTable table;
        if (!SpinUntil([&] { return table.Attach(); }, kStepTimeoutMs))
        {
            std::fwprintf(stderr, L"no shared app table\n");
            return 1;
        }
        std::wprintf(L"module: %ls\nregistering %u apps through the control pipe, twice (about %u s)...\n",
                     modulePath.c_str(), rounds, rounds * 13 / 10 + 1);
        std::fflush(stdout);
        double lastRowAt = 0.0;
        if (!RunRounds(app, table, rounds, false, free, lastRowAt) ||
            !RunRounds(app, table, rounds, true, backToBack, lastRowAt))
            return 1;
    }
    {
        const std::wstring name = L"\\\\.\\pipe\\KaleoBenchRaw-" + std::to_wstring(::GetCurrentProcessId());
        CRawServer server(name);
        for (unsigned i = 0; i < rawRounds; ++i)
        {
            double ms = 0.0;
            if (!RawRoundTrip(name, ms))
            {
                std::fwprintf(stderr, L"raw pipe round trip failed (%lu)\n", ::GetLastError());
                return 1;
            }
            raw.push_back(ms);
        }
    }

    std::wprintf(L"\nfrom the app's first attempt to open the pipe (n=%u)  median      p99   (ms)\n", rounds);
    PrintFigures(L"free channel: row in the table", free);
    PrintFigures(L"back to back: row in the table", backToBack);
    std::wprintf(L"raw message pipe round trip (n=%u)\n", rawRounds);
    PrintFigures(L"3,600 bytes written, ack read", raw);
    const double rawMedian = Percentile(raw, 0.5);
    if (rawMedian > 0.0)
        std::wprintf(L"ratio (median, free channel / raw round trip): %.1f x\n", Percentile(free, 0.5) / rawMedian);
    return 0;
}

bool ParseModule(int argc, char** argv, std::wstring& path)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--module") != 0)
            continue;
        if (i + 1 >= argc)
            return false;
        wchar_t wide[MAX_PATH] = {};
        if (::MultiByteToWideChar(CP_ACP, 0, argv[i + 1], -1, wide, MAX_PATH) == 0)
            return false;
        path = wide;
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    unsigned rounds = 100;
    unsigned rawRounds = 1000;
    std::wstring modulePath = ExeFolder() + L"\\VxAppManager.dll";
    if (!ParseCount(argc, argv, "--count", rounds) || !ParseCount(argc, argv, "--raw", rawRounds) ||
        !ParseModule(argc, argv, modulePath))
    {
        std::fwprintf(stderr, L"usage: BenchRegistration [--module PATH] [--count N] [--raw N]\n");
        return 2;
    }
    try
    {
        return Run(modulePath, rounds, rawRounds);
    }
    catch (...)
    {
        std::fwprintf(stderr, L"benchmark failed with an exception\n");
        return 3;
    }
}
