// BenchEvents: the path of a device event, from the device-side process
// that writes it into its data pipe to the host's callback, against a bare
// message pipe measured in the same run.
//
//   0. the baseline: a writer process and one reader thread on a raw
//      message pipe (rate flat out, latency at a paced 1,000 messages/s);
//   1. mode 0: writer process -> the library's reader thread -> a native
//      callback here that takes the message's stamp;
//   2. mode 2 under a flood over 8 sequence ids: batched callbacks per
//      second, batch and queue sizes, and whether memory stays flat;
//   3. the real host: node.exe with koffi (bench-events-node.js beside this
//      executable), in modes 0, 1 and 2, beside a no-op koffi callback
//      called from one native thread.
//
// The writers are this executable started again with "--writer". The run
// works on a temporary install with one published keyboard; the SDK's
// registry root is saved first and put back exactly afterwards.
//
//   BenchEvents.exe [--node <node.exe>]   (default <bin>\..\..\node\node.exe)
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "BenchSupport.h"
#include "ChildProcess.h"
#include "DeviceSources.h"
#include "EventDelivery.h"
#include "EventWriter.h"
#include "KaleoSDKNative.h"
#include "PipeIo.h"
#include "ProxyRequests.h"
#include "VxKaleoSDKNative.h"

using namespace BenchSupport;

namespace
{

// ---------------------------------------------------------------------------
// What the benchmark runs.

constexpr unsigned RATE_ROUNDS = 3;         // flat-out runs for the rates
constexpr unsigned RATE_MS = 1000;
constexpr unsigned PACED_ROUNDS = 3;        // paced runs for the latencies
constexpr unsigned PACED_RATE = 1000;       // messages/s
constexpr unsigned PACED_MS = 1000;
static_assert(PACED_ROUNDS <= RATE_ROUNDS, "paced runs share the rounds of the flat-out runs");
constexpr unsigned FLOOD_MS = 5000;         // mode 2 flood
constexpr unsigned FLOOD_IDS = 8;
constexpr unsigned NODE_PHASE_MS = 3000;    // each mode in node.exe
constexpr unsigned WRITER_SLACK_MS = 30000; // a writer's start and connect, beyond its plan
constexpr unsigned DRAIN_MS = 5000;         // for the last messages after the writer ended

const wchar_t kKeyboardHardware[] = L"VID_2F1A&PID_0084&MI_00";
const wchar_t kKeyboardInstance[] = L"7&BE01&0&0000";
constexpr int kKeyboardHandle = 0xBE01;  // the instance's serial
constexpr int kKeyboardPid = 0x84;
const char kContainer[] = "{BE000001-0000-0000-0000-000000000000}";
const char kCatalogue[] = "<?xml version=\"1.0\"?>\n<devices>\n"
                          "  <device pid=\"0x0084\" file=\"KaleoKeyboardPlugin.dll\"/>\n</devices>\n";

// A member of a JSON object as a number; 0 when missing or not a number.
double Number(const nlohmann::json& result, const char* key)
{
    const auto found = result.find(key);
    return found != result.end() && found->is_number() ? found->get<double>() : 0;
}

std::string Text(const nlohmann::json& result, const char* key)
{
    const auto found = result.find(key);
    return found != result.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// ---------------------------------------------------------------------------
// What arrived: messages with their latencies, and callbacks with their
// times. Filled by one thread at a time (a reader or the library's
// callback thread), read by the main thread once the writer has ended.

class CEventLog
{
public:
    static constexpr size_t CAPACITY = 1 << 20;

    // Both arrays are written once here, so their pages count in the
    // working set before any measurement.
    CEventLog() : m_latency(CAPACITY, 0), m_callbackTicks(CAPACITY, 0) {}

    void Reset()
    {
        m_messages.store(0);
        m_callbacks.store(0);
        m_firstTick = m_lastTick = 0;
    }

    // One text: a single stamped message or a batch of them.
    void Record(const char* text)
    {
        const LONGLONG now = Ticks();
        const ULONGLONG callback = m_callbacks.load(std::memory_order_relaxed);
        if (callback < CAPACITY)
            m_callbackTicks[callback] = now;
        ULONGLONG messages = m_messages.load(std::memory_order_relaxed);
        LONGLONG stamp = 0;
        for (const char* at = NextStamp(text, stamp); at; at = NextStamp(at, stamp))
        {
            if (messages < CAPACITY)
                m_latency[messages] = now - stamp;
            ++messages;
        }
        if (messages && !m_firstTick)
            m_firstTick = now;
        m_lastTick = now;
        m_messages.store(messages, std::memory_order_release);
        m_callbacks.store(callback + 1, std::memory_order_release);
    }

    ULONGLONG Messages() const { return m_messages.load(std::memory_order_acquire); }

    bool WaitForMessages(ULONGLONG count, DWORD timeoutMs) const
    {
        const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
        while (Messages() < count && ::GetTickCount64() < deadline)
            ::Sleep(5);
        return Messages() >= count;
    }

    // Messages per second between the first and the last arrival.
    double MessageRate() const
    {
        const ULONGLONG messages = Messages();
        const double ms = TicksToMs(m_lastTick - m_firstTick);
        return messages > 1 && ms > 0 ? (messages - 1) * 1000.0 / ms : 0;
    }

    double LatencyMs(double fraction) const
    {
        std::vector<LONGLONG> sorted(m_latency.begin(),
                                     m_latency.begin() + static_cast<size_t>(std::min<ULONGLONG>(Messages(), CAPACITY)));
        if (sorted.empty())
            return 0;
        std::sort(sorted.begin(), sorted.end());
        return TicksToMs(sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5)]);
    }

    ULONGLONG CallbacksBetween(LONGLONG from, LONGLONG to) const
    {
        const size_t count = static_cast<size_t>(std::min<ULONGLONG>(m_callbacks.load(), CAPACITY));
        return static_cast<ULONGLONG>(std::count_if(m_callbackTicks.begin(), m_callbackTicks.begin() + count,
                                                    [&](LONGLONG tick) { return tick >= from && tick <= to; }));
    }

private:
    std::vector<LONGLONG> m_latency;
    std::vector<LONGLONG> m_callbackTicks;
    std::atomic<ULONGLONG> m_messages{0};
    std::atomic<ULONGLONG> m_callbacks{0};
    LONGLONG m_firstTick = 0;
    LONGLONG m_lastTick = 0;
};

CEventLog* g_log = nullptr;

// The host callback of sections 1 and 2: takes the stamps, nothing more.
void OnProxyEvent(const char* text)
{
    if (g_log)
        g_log->Record(text);
}

// ---------------------------------------------------------------------------
// The baseline: a bare message pipe with the library's sizes, served by one
// thread that reads each message and takes its stamp. With overlapped set
// it reads the way the library's reader does (overlapped read, waiting on
// the I/O and a stop event), which separates the cost of that read from
// what the library does with a message.

class CRawPipeReader
{
public:
    static constexpr DWORD BUFFER_BYTES = 8192;

    CRawPipeReader(CEventLog& log, bool overlapped) : m_log(log), m_overlapped(overlapped) {}
    ~CRawPipeReader() { Stop(); }
    CRawPipeReader(const CRawPipeReader&) = delete;
    CRawPipeReader& operator=(const CRawPipeReader&) = delete;

    bool Start(const std::wstring& name)
    {
        const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE |
                               (m_overlapped ? FILE_FLAG_OVERLAPPED : 0);
        m_pipe.Reset(::CreateNamedPipeW(name.c_str(), openMode,
                                        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT |
                                            PIPE_REJECT_REMOTE_CLIENTS,
                                        1, BUFFER_BYTES, BUFFER_BYTES, 0, nullptr));
        m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_io.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_pipe || !m_stop || !m_io)
            return false;
        m_thread.Reset(::CreateThread(nullptr, 0, &ThreadMain, this, 0, nullptr));
        return m_thread.IsValid();
    }

    // Ends the thread: normally it has ended with the writer's disconnect;
    // one still waiting (no writer came) is stopped.
    void Stop()
    {
        if (!m_thread)
            return;
        if (::WaitForSingleObject(m_thread.Get(), 0) == WAIT_TIMEOUT)
        {
            ::SetEvent(m_stop.Get());
            ::CancelSynchronousIo(m_thread.Get());
        }
        ::WaitForSingleObject(m_thread.Get(), 5000);
        m_thread.Reset();
    }

private:
    static DWORD WINAPI ThreadMain(LPVOID self)
    {
        static_cast<CRawPipeReader*>(self)->Serve();
        return 0;
    }

    void Serve() noexcept
    {
        std::vector<char> buffer(BUFFER_BYTES + 1);
        if (!Connect())
            return;
        for (;;)
        {
            DWORD bytes = 0;
            if (!Read(buffer.data(), bytes))
                return;
            buffer[bytes] = '\0';
            m_log.Record(buffer.data());
        }
    }

    bool Connect() noexcept
    {
        if (m_overlapped)
            return Common::ConnectPipeClient(m_pipe.Get(), m_stop.Get()) == ERROR_SUCCESS;
        return ::ConnectNamedPipe(m_pipe.Get(), nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
    }

    bool Read(char* buffer, DWORD& bytes) noexcept
    {
        if (m_overlapped)
            return Common::ReadPipeMessage(m_pipe.Get(), buffer, BUFFER_BYTES, bytes, INFINITE, m_stop.Get(),
                                           m_io.Get()) == ERROR_SUCCESS;
        return ::ReadFile(m_pipe.Get(), buffer, BUFFER_BYTES, &bytes, nullptr) != FALSE;
    }

    CEventLog& m_log;
    const bool m_overlapped;
    Common::CHandle m_pipe;
    Common::CHandle m_stop;
    Common::CHandle m_io;
    Common::CHandle m_thread;
};

// ---------------------------------------------------------------------------
// Runs of a writer child against a reader that fills the log.

CWriterReport RunWriter(const CWriterPlan& plan)
{
    CWriterChild child;
    if (child.Start(plan) != ERROR_SUCCESS)
        return CWriterReport();
    return child.Finish(plan.milliseconds + WRITER_SLACK_MS);
}

// What the reader side showed for one writer run.
struct CPathFigures
{
    bool ok = false;
    double rate = 0;  // messages/s that arrived
    double p50 = 0;   // latency, ms
    double p99 = 0;
};

// Writes the plan into pipeName while log fills, and waits for the last
// message to arrive.
CPathFigures MeasurePath(CEventLog& log, const CWriterPlan& plan)
{
    log.Reset();
    CPathFigures figures;
    const CWriterReport report = RunWriter(plan);
    if (!report.ok || !log.WaitForMessages(report.sent, DRAIN_MS))
    {
        std::fprintf(stderr, "writer into %ls: %s, %llu sent, %llu arrived\n", plan.pipeName.c_str(),
                     report.ok ? "ran" : "failed", report.sent, log.Messages());
        return figures;
    }
    figures.ok = true;
    figures.rate = log.MessageRate();
    figures.p50 = log.LatencyMs(0.50);
    figures.p99 = log.LatencyMs(0.99);
    return figures;
}

std::wstring RawPipeName()
{
    static int s_run = 0;
    return L"\\\\.\\pipe\\kaleo-bench-raw-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++s_run);
}

CPathFigures MeasureRaw(CEventLog& log, bool overlapped, DWORD ratePerSecond, DWORD milliseconds)
{
    const std::wstring name = RawPipeName();
    CRawPipeReader reader(log, overlapped);
    if (!reader.Start(name))
        return CPathFigures();
    const CPathFigures figures = MeasurePath(log, {name, milliseconds, ratePerSecond, 1});
    reader.Stop();
    return figures;
}

// ---------------------------------------------------------------------------
// The library in this process: one keyboard attached, its reader serving
// the device's data pipe.

class CProxySession
{
public:
    CProxySession() = default;
    ~CProxySession()
    {
        VxKaleoSDKProxy::SetEventCallback(nullptr);
        VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
        if (m_initialised)
            ProxyUnInit();
    }
    CProxySession(const CProxySession&) = delete;
    CProxySession& operator=(const CProxySession&) = delete;

    bool Open()
    {
        m_initialised = ProxyInit() >= 1;
        if (!m_initialised || Attach() != kKeyboardHandle)
            return false;
        CKaleoSDKNative* native = CKaleoSDKNative::Instance();
        if (!native || !native->DeviceManager())
            return false;
        const DeviceTable table = native->DeviceManager()->CopyRecords();
        const auto record = table.find(kKeyboardHandle);
        if (record != table.end())
            m_pipeName = record->second.pipeName;
        return !m_pipeName.empty();
    }

    const std::wstring& PipeName() const { return m_pipeName; }

private:
    static int Attach()
    {
        const nlohmann::json request = {{"func", "AddDevice"},
                                        {"param", {{"pid", kKeyboardPid}, {"containerId", kContainer}}}};
        const std::string text = request.dump();
        wchar_t* raw = nullptr;
        ProxyInvoke(std::wstring(text.begin(), text.end()).c_str(), &raw);
        const std::unique_ptr<wchar_t, decltype(&::CoTaskMemFree)> response(raw, &::CoTaskMemFree);
        if (!response)
            return -1;
        // The members read here are ASCII.
        std::string narrow;
        for (const wchar_t* c = response.get(); *c; ++c)
            narrow += static_cast<char>(*c < 0x80 ? *c : '?');
        const nlohmann::json parsed = nlohmann::json::parse(narrow, nullptr, false);
        if (!parsed.is_object() || Number(parsed, "result") != 0 || !parsed.contains("return") ||
            !parsed["return"].is_object() || !parsed["return"].contains("device_handle"))
            return -1;
        return static_cast<int>(Number(parsed["return"], "device_handle"));
    }

    bool m_initialised = false;
    std::wstring m_pipeName;
};

bool PrepareInstall(const CTempInstall& install)
{
    CRegistryRootBackup::DeleteRoot();
    if (RegSetString(KALEO_ROOT_KEY, KALEO_INSTALL_PATH_VALUE, install.Path()) != ERROR_SUCCESS)
        return false;
    CHandle file(::CreateFileW((install.Path() + L"\\Devices.xml").c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !::WriteFile(file.Get(), kCatalogue, sizeof(kCatalogue) - 1, &written, nullptr))
        return false;
    const std::wstring container(kContainer, kContainer + sizeof(kContainer) - 1);
    return RegSetString(std::wstring(DeviceSources::HID_KEY) + L"\\" + kKeyboardHardware + L"\\" + kKeyboardInstance,
                        DeviceSources::CONTAINER_ID_VALUE, container) == ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Sections 0 to 2 of the output.

// Sections 0 and 1 run in rounds, the raw pipe first in each, then the
// library's path; the best figure of all rounds counts for each path. The
// machine is shared, and a round that another process disturbed says
// little about either path.
struct CPathSet
{
    CPathFigures raw;             // blocking reads, flat out
    CPathFigures overlapped;      // raw, read the way the library reads
    CPathFigures rawPaced;        // blocking reads at PACED_RATE
    CPathFigures immediate;       // mode 0, flat out
    CPathFigures immediatePaced;  // mode 0 at PACED_RATE
};

void KeepBest(CPathFigures& best, const CPathFigures& round)
{
    if (!round.ok)
        return;
    if (!best.ok)
    {
        best = round;
        return;
    }
    best.rate = std::max(best.rate, round.rate);
    best.p50 = std::min(best.p50, round.p50);
    best.p99 = std::min(best.p99, round.p99);
}

double Ratio(double value, double baseline)
{
    return baseline > 0 ? value / baseline : 0;
}

bool MeasureRounds(CEventLog& log, const std::wstring& pipe, CPathSet& set)
{
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
    VxKaleoSDKProxy::SetEventCallback(&OnProxyEvent);
    for (unsigned round = 0; round < RATE_ROUNDS; ++round)
    {
        KeepBest(set.raw, MeasureRaw(log, false, 0, RATE_MS));
        KeepBest(set.overlapped, MeasureRaw(log, true, 0, RATE_MS));
        KeepBest(set.immediate, MeasurePath(log, {pipe, RATE_MS, 0, 1}));
        if (round >= PACED_ROUNDS)
            continue;
        KeepBest(set.rawPaced, MeasureRaw(log, false, PACED_RATE, PACED_MS));
        KeepBest(set.immediatePaced, MeasurePath(log, {pipe, PACED_MS, PACED_RATE, 1}));
    }
    VxKaleoSDKProxy::SetEventCallback(nullptr);
    return set.raw.ok && set.overlapped.ok && set.rawPaced.ok && set.immediate.ok && set.immediatePaced.ok;
}

void PrintRounds(const CPathSet& set)
{
    std::printf("0. Baseline: raw message pipe, writer process -> one reader thread"
                " (best of %u rounds of %.1f s; latency %u rounds)\n",
                RATE_ROUNDS, RATE_MS / 1000.0, PACED_ROUNDS);
    std::printf("   rate, writer flat out                     %8.0f msg/s\n", set.raw.rate);
    std::printf("   rate, read the way the library reads      %8.0f msg/s  %5.2fx      (overlapped, waits on 2 handles)\n",
                set.overlapped.rate, Ratio(set.overlapped.rate, set.raw.rate));
    std::printf("   latency at %u msg/s                     p50 %6.3f ms         p99 %6.3f ms\n", PACED_RATE,
                set.rawPaced.p50, set.rawPaced.p99);
    std::printf("1. Mode 0: writer process -> library reader thread -> native callback\n");
    std::printf("   rate, writer flat out                     %8.0f msg/s  %5.2fx raw  (target >= 0.50x)\n",
                set.immediate.rate, Ratio(set.immediate.rate, set.raw.rate));
    std::printf("   latency at %u msg/s                     p50 %6.3f ms %5.2fx  p99 %6.3f ms %5.2fx raw"
                "  (target p99 <= 2x)\n",
                PACED_RATE, set.immediatePaced.p50, Ratio(set.immediatePaced.p50, set.rawPaced.p50),
                set.immediatePaced.p99, Ratio(set.immediatePaced.p99, set.rawPaced.p99));
}

struct CMemory
{
    SIZE_T workingSet = 0;
    SIZE_T pagefile = 0;  // private bytes: Wine reports PrivateUsage as 0
};

CMemory ReadMemory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return {counters.WorkingSetSize, counters.PagefileUsage};
}

void PrintMemory(const char* what, SIZE_T before, SIZE_T atOne, SIZE_T after)
{
    const auto kb = [](SIZE_T bytes) { return static_cast<long long>(bytes / 1024); };
    std::printf("   %-13s before %8lld KB  at 1 s %8lld KB  after %8lld KB  growth %+6lld KB"
                " (%+lld from 1 s)   (target flat)\n",
                what, kb(before), kb(atOne), kb(after), kb(after) - kb(before), kb(after) - kb(atOne));
}

bool RunBatched(CEventLog& log, const std::wstring& pipe, const CPathSet& base)
{
    VxKaleoSDKProxy::SetEventCallback(&OnProxyEvent);
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_BATCHED);
    log.Reset();
    VxKaleoSDKProxy::ResetEventDeliveryStats();
    const CMemory before = ReadMemory();
    CWriterChild writer;
    CWriterReport report;
    CMemory atOne;
    if (writer.Start({pipe, FLOOD_MS, 0, FLOOD_IDS}) == ERROR_SUCCESS)
    {
        // One second into the flood: what the steady state costs.
        if (log.WaitForMessages(1, WRITER_SLACK_MS))
            ::Sleep(1000);
        atOne = ReadMemory();
        report = writer.Finish(FLOOD_MS + WRITER_SLACK_MS);
    }
    ::Sleep(3 * VxKaleoSDKProxy::CDeviceFrame::TICK_PERIOD_MS);  // the last batch
    const CMemory after = ReadMemory();
    const VxKaleoSDKProxy::EventDeliveryStats stats = VxKaleoSDKProxy::GetEventDeliveryStats();
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
    if (!report.ok)
    {
        std::fprintf(stderr, "mode 2 flood: the writer failed\n");
        return false;
    }

    const double seconds = TicksToMs(report.lastTick - report.firstTick) / 1000.0;
    const double readRate = seconds > 0 ? report.sent / seconds : 0;
    const double callbackRate = seconds > 0 ? log.CallbacksBetween(report.firstTick, report.lastTick) / seconds : 0;
    std::printf("2. Mode 2: writer flat out over %u sequence ids for %.1f s\n", FLOOD_IDS, seconds);
    std::printf("   messages read by the library              %8.0f msg/s  %5.2fx raw   (%llu sent)\n", readRate,
                Ratio(readRate, base.raw.rate), report.sent);
    std::printf("   callbacks                                 %8.1f /s                  (target <= 25/s)\n",
                callbackRate);
    std::printf("   largest batch %zu entries, peak queue %zu entries, %llu batches, %llu refused by the cap\n",
                stats.largestBatch, stats.peakBatchEntries, stats.batches, stats.droppedByCap);
    std::printf("   states delivered %llu, age at delivery    p50 %6.1f ms      p99 %6.1f ms   (tick period %u ms)\n",
                log.Messages(), log.LatencyMs(0.50), log.LatencyMs(0.99),
                static_cast<unsigned>(VxKaleoSDKProxy::CDeviceFrame::TICK_PERIOD_MS));
    PrintMemory("working set", before.workingSet, atOne.workingSet, after.workingSet);
    PrintMemory("pagefile use", before.pagefile, atOne.pagefile, after.pagefile);
    return true;
}

// ---------------------------------------------------------------------------
// node.exe with koffi as the host (section 3 of the output). The script
// reports one "RESULT {json}" line per figure; its other lines are shown
// as they are.

struct CNodeRun
{
    std::wstring nodeExe;
    std::wstring script;
    std::wstring dll;
    std::wstring logPath;
    std::wstring pipeName;
};

class CNamedEvent
{
public:
    explicit CNamedEvent(const wchar_t* role)
        : m_name(std::wstring(L"Local\\KaleoBenchEvents-") + role + L"-" + std::to_wstring(::GetCurrentProcessId())),
          m_event(::CreateEventW(nullptr, FALSE, FALSE, m_name.c_str()))
    {
    }
    const std::wstring& Name() const { return m_name; }
    HANDLE Get() const { return m_event.Get(); }

private:
    std::wstring m_name;
    CHandle m_event;
};

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ReadTextFile(const std::wstring& path)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr));
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (file && text.size() < (1u << 20) && ::ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got)
        text.append(chunk, got);
    return text;
}

// node.exe runs the script's phases; each mode phase starts when the
// script says it is ready, with a writer flat out into the device's pipe,
// and ends when the bench says the writer is done. The writers' reports
// are kept per mode.
bool DriveNode(const CNodeRun& run, std::vector<CWriterReport>& writers)
{
    CNamedEvent ready(L"ready");
    CNamedEvent done(L"done");
    CHandle log(::CreateFileW(run.logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ready.Get() || !done.Get() || !log)
        return false;
    const std::wstring nodeModules = FolderOf(run.nodeExe) + L"\\node_modules";
    ::SetEnvironmentVariableW(L"NODE_PATH", nodeModules.c_str());
    ::SetEnvironmentVariableW(L"KALEO_BENCH_DLL", run.dll.c_str());
    ::SetEnvironmentVariableW(L"KALEO_BENCH_READY", ready.Name().c_str());
    ::SetEnvironmentVariableW(L"KALEO_BENCH_DONE", done.Name().c_str());
    ::SetEnvironmentVariableW(L"KALEO_BENCH_CONTAINER", std::wstring(kContainer, kContainer + std::strlen(kContainer)).c_str());
    ::SetEnvironmentVariableW(L"KALEO_BENCH_PID", std::to_wstring(kKeyboardPid).c_str());

    CChildProcess node;
    if (node.Start(Quoted(run.nodeExe) + L" " + Quoted(run.script), log.Get()) != ERROR_SUCCESS)
        return false;
    log.Reset();
    for (int phase = 0; phase < 3; ++phase)
    {
        const HANDLE waits[] = {ready.Get(), node.Handle()};
        if (::WaitForMultipleObjects(2, waits, FALSE, 60000) != WAIT_OBJECT_0)
            break;  // node ended or hangs
        writers.push_back(RunWriter({run.pipeName, NODE_PHASE_MS, 0, FLOOD_IDS}));
        ::SetEvent(done.Get());
    }
    const bool ended = node.Wait(60000);
    node.End();
    return ended && node.ExitCode() == 0;
}

void PrintNodeFigures(const std::vector<nlohmann::json>& results, const std::vector<CWriterReport>& writers,
                      const CPathSet& base)
{
    // The best of the no-op rounds (one before each mode) is the baseline.
    double noop = 0;
    double mainThread = 0;
    int noopRounds = 0;
    for (const nlohmann::json& result : results)
    {
        const std::string phase = Text(result, "phase");
        const double seconds = Number(result, "seconds");
        const double rate = seconds > 0 ? Number(result, "calls") / seconds : 0;
        if (phase == "noop-native-thread")
        {
            noop = std::max(noop, rate);
            ++noopRounds;
        }
        else if (phase == "noop-main-thread")
            mainThread = rate;
    }
    if (noopRounds > 0)
        std::printf("   no-op koffi callback, one native thread   %8.0f calls/s   (baseline of this section, best of %d)\n",
                    noop, noopRounds);
    if (mainThread > 0)
        std::printf("   the same called on the main thread        %8.0f calls/s\n", mainThread);
    for (const nlohmann::json& result : results)
    {
        const std::string phase = Text(result, "phase");
        if (phase == "uninit")
            std::printf("   UnInit (async form) with the reader attached: %.1f ms\n", Number(result, "ms"));
        if (phase != "mode")
            continue;
        const int mode = static_cast<int>(Number(result, "mode"));
        const double seconds = Number(result, "seconds");
        const auto perSecond = [&](const char* key) { return seconds > 0 ? Number(result, key) / seconds : 0; };
        const double events = perSecond("events");
        std::printf("   mode %d: %7.1f %-11s carrying %7.0f events/s %5.2fx no-op", mode,
                    perSecond("deliveries"), mode == 1 ? "polls/s" : "callbacks/s", events,
                    Ratio(events, noop));
        if (mode >= 0 && static_cast<size_t>(mode) < writers.size() && writers[mode].ok)
        {
            const CWriterReport& writer = writers[mode];
            const double writerSeconds = TicksToMs(writer.lastTick - writer.firstTick) / 1000.0;
            const double absorbed = writerSeconds > 0 ? writer.sent / writerSeconds : 0;
            std::printf(";  device writer %7.0f msg/s %5.2fx raw", absorbed, Ratio(absorbed, base.raw.rate));
        }
        std::printf("%s\n", mode == 2 ? "  (target <= 25 callbacks/s)" : "");
    }
}

void RunNode(const std::wstring& nodeExe, const std::wstring& pipeName, const CTempInstall& install,
             const CPathSet& base)
{
    const std::wstring bin = FolderOf(OwnExecutablePath());
    const CNodeRun run{nodeExe, bin + L"\\bench-events-node.js", bin + L"\\VxKaleoSDKProxy64.dll",
                       install.Path() + L"\\node.log", pipeName};
    std::printf("3. node.exe through koffi: events reaching JS, device writer flat out over %u ids for %.1f s\n",
                FLOOD_IDS, NODE_PHASE_MS / 1000.0);
    for (const std::wstring& needed : {run.nodeExe, run.script, run.dll})
    {
        if (!FileExists(needed))
        {
            std::printf("   skipped: %ls is missing\n", needed.c_str());
            return;
        }
    }
    std::vector<CWriterReport> writers;
    const bool ok = DriveNode(run, writers);
    std::vector<nlohmann::json> results;
    const std::string text = ReadTextFile(run.logPath);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("RESULT ", 0) == 0)
        {
            nlohmann::json result = nlohmann::json::parse(line.substr(7), nullptr, false);
            if (result.is_object())
                results.push_back(std::move(result));
        }
        else if (!line.empty())
            std::printf("   node: %s\n", line.c_str());
    }
    PrintNodeFigures(results, writers, base);
    // Wine closes an ended process's handles a moment after its handle is
    // signalled: the log goes once node.exe has let go of it.
    for (int attempt = 0; attempt < 50 && !::DeleteFileW(run.logPath.c_str()); ++attempt)
        ::Sleep(100);
    if (!ok)
        std::printf("   node.exe did not finish cleanly (see its lines above)\n");
}

// ---------------------------------------------------------------------------

std::wstring Widen(const char* text)
{
    const int chars = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(chars > 0 ? chars : 1, L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], chars);
    wide.resize(wide.size() - 1);
    return wide;
}

std::wstring DefaultNodeExe()
{
    return FolderOf(FolderOf(FolderOf(OwnExecutablePath()))) + L"\\node\\node.exe";
}

int RunBenchmark(const std::wstring& nodeExe)
{
    CRegistryRootBackup backup;
    CTempInstall install;
    if (!PrepareInstall(install))
    {
        std::fprintf(stderr, "cannot prepare the install\n");
        return 1;
    }
    static CEventLog s_log;  // 16 MB of samples: not on the stack
    g_log = &s_log;
    std::printf("BenchEvents: lighting events of about %zu bytes from a writer process to the host\n\n",
                EVENT_MESSAGE_BYTES);
    CPathSet base;
    std::wstring pipeName;
    {
        CProxySession session;
        if (!session.Open())
        {
            std::fprintf(stderr, "cannot attach the keyboard\n");
            return 1;
        }
        pipeName = session.PipeName();
        if (!MeasureRounds(s_log, pipeName, base))
            return 1;
        PrintRounds(base);
        if (!RunBatched(s_log, pipeName, base))
            return 1;
    }
    RunNode(nodeExe, pipeName, install, base);
    g_log = nullptr;
    return 0;
}

} // namespace

// Arguments arrive in the ANSI code page; the pipe names and paths this
// program is given are plain ASCII.
int main(int argc, char** argv)
{
    try
    {
        std::vector<std::wstring> args;
        for (int i = 0; i < argc; ++i)
            args.push_back(Widen(argv[i]));
        CWriterPlan plan;
        if (ParseWriterArgs(args, plan))
            return RunWriterMain(plan);
        std::wstring nodeExe = DefaultNodeExe();
        if (args.size() == 3 && args[1] == L"--node")
            nodeExe = args[2];
        else if (args.size() != 1)
        {
            std::fprintf(stderr, "usage: BenchEvents.exe [--node <node.exe>]\n");
            return 2;
        }
        return RunBenchmark(nodeExe);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "BenchEvents: %s\n", error.what());
        return 1;
    }
}
