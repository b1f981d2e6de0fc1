// BenchRegistration: how long an app waits, from writing its registration
// block into the control pipe, until its row is in the shared app table and
// the apps-changed event has been pulsed; beside a plain message-pipe round
// trip of the same 3,600 bytes measured in the same run.
//
// Runs a CAppManager in this process against a temporary install (the SDK's
// registry root is saved first and put back exactly afterwards). Each round
// starts a live app (IdleApp.exe from this folder), registers it through the
// pipe, unregisters it through the request ring (so the two channels' pauses
// overlap) and ends it.
//
//   BenchRegistration.exe [--count N] [--raw N]   (defaults 200 and 1000)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppData.h"
#include "AppManager.h"
#include "GlobalSecurity.h"
#include "Handles.h"
#include "LogWriter.h"
#include "NamedEvents.h"
#include "Registry.h"
#include "RequestChannel.h"
#include "SharedSection.h"
#include "BenchSupport.h"

using namespace Common;
using namespace AppRequests;
using namespace BenchSupport;

namespace
{
constexpr DWORD kBlockSize = sizeof(_REGISTERDATATYPE);
constexpr DWORD kStepTimeoutMs = 10000;


std::wstring ExeFolder()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// ---------------------------------------------------------------------------

// Timestamps every pulse of the apps-changed event; a pulse reaches only a
// thread that waits at that moment, so one thread does nothing but wait.
class CPulseClock
{
public:
    CPulseClock()
    {
        CGlobalSecurity security;
        security.Build();
        m_event.Reset(::CreateEventW(security.Attributes(), TRUE, FALSE, APPS_CHANGED_EVENT));
        m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (m_event && m_stop)
            m_thread = std::thread([this] { Run(); });
    }
    ~CPulseClock()
    {
        ::SetEvent(m_stop.Get());
        if (m_thread.joinable())
            m_thread.join();
    }
    bool IsValid() const { return m_thread.joinable(); }
    long Count() const { return m_count.load(); }
    double Last() const { return m_last.load(); }

private:
    void Run()
    {
        const HANDLE waits[2] = {m_stop.Get(), m_event.Get()};
        while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        {
            m_last.store(NowMs());
            ++m_count;
            ::ResetEvent(m_event.Get());  // only pulses are expected; never spin on a set event
        }
    }
    CHandle m_event;
    CHandle m_stop;
    std::thread m_thread;
    std::atomic<long> m_count{0};
    std::atomic<double> m_last{0.0};
};

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

struct CSample
{
    double rowMs;
    double pulseMs;
};

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

// One registration round; false (with a message) when a step did not happen.
bool RegistrationRound(const std::wstring& app, CTable& table, const CPulseClock& pulses, CSample& sample)
{
    // Started before the clock runs; ended (and its monitor gone) before the
    // next round, whose pulse must not be confused with this one's.
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

    CHandle pipe = OpenPipe(CONTROL_PIPE_NAME, GENERIC_WRITE);
    if (!pipe)
    {
        std::fwprintf(stderr, L"control pipe not reachable (%lu)\n", ::GetLastError());
        return false;
    }
    const long pulsesBefore = pulses.Count();
    const double start = NowMs();
    DWORD written = 0;
    if (!::WriteFile(pipe.Get(), &block, kBlockSize, &written, nullptr) || written != kBlockSize)
    {
        std::fwprintf(stderr, L"pipe write failed (%lu)\n", ::GetLastError());
        return false;
    }
    double rowAt = 0.0;
    const bool listed = SpinUntil([&] {
        if (table.Lists(child.Pid()))
        {
            rowAt = NowMs();
            return true;
        }
        return false;
    }, kStepTimeoutMs);
    const bool pulsed = SpinUntil([&] { return pulses.Count() > pulsesBefore; }, kStepTimeoutMs);
    pipe.Reset();
    if (!listed || !pulsed)
    {
        std::fwprintf(stderr, L"registration of pid %lu not seen (row %d, pulse %d)\n", child.Pid(), listed, pulsed);
        return false;
    }
    sample.rowMs = rowAt - start;
    sample.pulseMs = pulses.Last() - start;

    // Out through the ring, while the pipe server takes its pause.
    if (!RingUnregister(child.Pid()) ||
        !SpinUntil([&] { return !table.Lists(child.Pid()); }, kStepTimeoutMs))
    {
        std::fwprintf(stderr, L"unregistration of pid %lu not seen\n", child.Pid());
        return false;
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

int Run(unsigned rounds, unsigned rawRounds)
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
    CLogWriter::GetInstance()->Reset();
    if (RegSetString(KALEO_ROOT_KEY, KALEO_INSTALL_PATH_VALUE, install.Path()) != ERROR_SUCCESS ||
        RegSetString(KALEO_APPS_KEY, L"PriorityList", L"") != ERROR_SUCCESS)
    {
        std::fwprintf(stderr, L"cannot prepare the registry\n");
        return 1;
    }

    std::vector<CSample> samples;
    std::vector<double> raw;
    {
        CPulseClock pulses;
        CAppManager manager;
        if (!pulses.IsValid() || manager.Init() != ERROR_SUCCESS)
        {
            std::fwprintf(stderr, L"cannot start the app manager\n");
            return 1;
        }
        CTable table;
        // Tasks before the first registration; every monitor comes on top.
        ::Sleep(200);
        const size_t idleTasks = manager.PendingTasks();
        if (!SpinUntil([&] { return table.Attach(); }, kStepTimeoutMs))
        {
            std::fwprintf(stderr, L"no shared app table\n");
            return 1;
        }
        std::wprintf(L"registering %u apps through the control pipe (about %u s)...\n", rounds, rounds * 6 / 10 + 1);
        std::fflush(stdout);
        for (unsigned i = 0; i < rounds; ++i)
        {
            CSample sample{};
            if (!RegistrationRound(app, table, pulses, sample))
                return 1;
            samples.push_back(sample);
            // The ended app's monitor pulses once more on its way out.
            if (!SpinUntil([&] { return manager.PendingTasks() <= idleTasks; }, kStepTimeoutMs))
            {
                std::fwprintf(stderr, L"a process monitor did not end\n");
                return 1;
            }
            if ((i + 1) % 20 == 0 || i + 1 == rounds)
            {
                std::wprintf(L"  %u/%u\n", i + 1, rounds);
                std::fflush(stdout);
            }
        }
        manager.UnInit();
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

    std::vector<double> rows, pulsed;
    for (const CSample& sample : samples)
    {
        rows.push_back(sample.rowMs);
        pulsed.push_back(sample.pulseMs);
    }
    const double rawMedian = Percentile(raw, 0.5);
    std::wprintf(L"\nfrom the pipe write (n=%u)        median    p99   (ms)\n", rounds);
    std::wprintf(L"  row in the shared table       %7.3f %7.3f\n", Percentile(rows, 0.5), Percentile(rows, 0.99));
    std::wprintf(L"  apps-changed pulse seen       %7.3f %7.3f\n", Percentile(pulsed, 0.5), Percentile(pulsed, 0.99));
    std::wprintf(L"raw message pipe round trip (n=%u)\n", rawRounds);
    std::wprintf(L"  3,600 bytes written, ack read %7.3f %7.3f\n", rawMedian, Percentile(raw, 0.99));
    if (rawMedian > 0.0)
        std::wprintf(L"ratio (median, pulse / raw round trip): %.1f x\n", Percentile(pulsed, 0.5) / rawMedian);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    unsigned rounds = 200;
    unsigned rawRounds = 1000;
    if (!ParseCount(argc, argv, "--count", rounds) || !ParseCount(argc, argv, "--raw", rawRounds))
    {
        std::fwprintf(stderr, L"usage: BenchRegistration [--count N] [--raw N]\n");
        return 2;
    }
    try
    {
        return Run(rounds, rawRounds);
    }
    catch (...)
    {
        std::fwprintf(stderr, L"benchmark failed with an exception\n");
        return 3;
    }
}
