#pragma once
// The device side of BenchEvents: the same executable started again as a
// child process ("--writer ...") that connects to a data pipe and writes
// lighting events of about 200 bytes, one per pipe message. Each message
// carries "ts", the QueryPerformanceCounter value just before its write;
// that counter is machine-wide, so the reading process gets each message's
// latency as its own counter minus "ts".
//
// The writer goes flat out, or paced at a given rate so that no queue
// builds up and the latency is the path's own. It reports on its standard
// output what it sent and when, in ticks of the same counter.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "Handles.h"

namespace BenchSupport
{

// What one writer run does; also its command line.
struct CWriterPlan
{
    std::wstring pipeName;
    DWORD milliseconds = 2000;
    DWORD ratePerSecond = 0;  // 0: flat out
    DWORD sequenceIds = 1;    // "linkDeviceSeqId" runs 0 .. sequenceIds-1 in turn
};

// What the writer reports when it ends.
struct CWriterReport
{
    bool ok = false;
    ULONGLONG sent = 0;
    LONGLONG firstTick = 0;  // counter value of the first and the last write
    LONGLONG lastTick = 0;
};

inline LONGLONG Ticks()
{
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

inline LONGLONG TicksPerSecond()
{
    static const LONGLONG s_frequency = [] {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }();
    return s_frequency;
}

inline double TicksToMs(LONGLONG ticks)
{
    return static_cast<double>(ticks) * 1000.0 / static_cast<double>(TicksPerSecond());
}

// Messages are padded to this size for a one-digit id and a 12-digit
// stamp (the counter's ticks of a few hours); other digits make them vary
// by a few bytes.
constexpr size_t EVENT_MESSAGE_BYTES = 200;
constexpr size_t EVENT_FIXED_BYTES = 60;  // all but the padding

// {"eventId":2,"linkDeviceSeqId":<id>,"pad":"xx..","ts":<ticks>}
inline size_t FormatEvent(char* out, size_t size, DWORD sequenceId, LONGLONG stamp)
{
    static const std::string s_pad(EVENT_MESSAGE_BYTES - EVENT_FIXED_BYTES, 'x');
    const int length = std::snprintf(out, size, "{\"eventId\":2,\"linkDeviceSeqId\":%lu,\"pad\":\"%s\",\"ts\":%lld}",
                                     static_cast<unsigned long>(sequenceId), s_pad.c_str(), stamp);
    return length > 0 && static_cast<size_t>(length) < size ? static_cast<size_t>(length) : 0;
}

// The stamp of a message or of one entry of a batch: the number after the
// first "ts": at or after from. Returns where the search can go on, or null
// when there is no further stamp.
inline const char* NextStamp(const char* from, LONGLONG& stamp)
{
    const char* at = std::strstr(from, "\"ts\":");
    if (!at)
        return nullptr;
    char* end = nullptr;
    stamp = std::strtoll(at + 5, &end, 10);
    return end;
}

namespace WriterDetail
{

// Connects to the data pipe, waiting for the reader to offer an instance.
inline Common::CHandle Connect(const std::wstring& pipeName, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do
    {
        Common::CHandle pipe(
            ::CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe)
            return pipe;
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(pipeName.c_str(), 50);
        else
            ::Sleep(5);
    } while (::GetTickCount64() < deadline);
    return Common::CHandle();
}

// Waits until the counter reaches due: sleeps while far away, then yields,
// so a paced writer neither drifts nor burns a core.
inline void WaitUntil(LONGLONG due)
{
    const LONGLONG twoMs = TicksPerSecond() / 500;
    for (LONGLONG now = Ticks(); now < due; now = Ticks())
    {
        if (due - now > twoMs)
            ::Sleep(1);
        else
            ::SwitchToThread();
    }
}

} // namespace WriterDetail

// The writer child's body.
inline CWriterReport WriteEvents(const CWriterPlan& plan)
{
    CWriterReport report;
    Common::CHandle pipe = WriterDetail::Connect(plan.pipeName, 20000);
    if (!pipe)
        return report;
    const LONGLONG start = Ticks();
    const LONGLONG end = start + TicksPerSecond() * plan.milliseconds / 1000;
    const LONGLONG period = plan.ratePerSecond ? TicksPerSecond() / plan.ratePerSecond : 0;
    const DWORD ids = plan.sequenceIds ? plan.sequenceIds : 1;
    char message[512];
    for (LONGLONG now = start; now < end; now = Ticks())
    {
        if (period)
            WriterDetail::WaitUntil(start + static_cast<LONGLONG>(report.sent) * period);
        const LONGLONG stamp = Ticks();
        const size_t length = FormatEvent(message, sizeof(message), static_cast<DWORD>(report.sent % ids), stamp);
        DWORD written = 0;
        if (!length || !::WriteFile(pipe.Get(), message, static_cast<DWORD>(length), &written, nullptr))
            break;
        if (report.sent == 0)
            report.firstTick = stamp;
        report.lastTick = stamp;
        ++report.sent;
    }
    report.ok = report.sent > 0;
    return report;
}

// "--writer <pipe> <milliseconds> <rate> <ids>" as this executable's
// arguments; false when they are not a writer's.
inline bool ParseWriterArgs(const std::vector<std::wstring>& args, CWriterPlan& plan)
{
    if (args.size() != 6 || args[1] != L"--writer")
        return false;
    plan.pipeName = args[2];
    plan.milliseconds = static_cast<DWORD>(std::wcstoul(args[3].c_str(), nullptr, 10));
    plan.ratePerSecond = static_cast<DWORD>(std::wcstoul(args[4].c_str(), nullptr, 10));
    plan.sequenceIds = static_cast<DWORD>(std::wcstoul(args[5].c_str(), nullptr, 10));
    return !plan.pipeName.empty() && plan.milliseconds > 0 && plan.milliseconds <= 60000;
}

// The writer child's main: writes, then prints its report on one line.
inline int RunWriterMain(const CWriterPlan& plan)
{
    const CWriterReport report = WriteEvents(plan);
    std::printf("sent=%llu first=%lld last=%lld\n", report.sent, report.firstTick, report.lastTick);
    std::fflush(stdout);
    return report.ok ? 0 : 1;
}

// A writer child started by the benchmark; its report is read when it ends.
class CWriterChild
{
public:
    DWORD Start(const CWriterPlan& plan)
    {
        Common::CHandle write;
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
        if (!::CreatePipe(m_output.Put(), write.Put(), &attributes, 4096))
            return ::GetLastError();
        const std::wstring line = Quoted(OwnExecutablePath()) + L" --writer " + Quoted(plan.pipeName) + L" " +
                                  std::to_wstring(plan.milliseconds) + L" " + std::to_wstring(plan.ratePerSecond) +
                                  L" " + std::to_wstring(plan.sequenceIds);
        // Our copy of the write end closes on return: the pipe then ends
        // with the child's copy.
        return m_child.Start(line, write.Get());
    }

    // Waits for the end and parses the report; a child that overruns
    // timeoutMs is ended and reports nothing.
    CWriterReport Finish(DWORD timeoutMs)
    {
        CWriterReport report;
        if (!m_child.Wait(timeoutMs))
        {
            m_child.End();
            return report;
        }
        char text[256] = {};
        DWORD got = 0;
        DWORD total = 0;
        while (total < sizeof(text) - 1 &&
               ::ReadFile(m_output.Get(), text + total, sizeof(text) - 1 - total, &got, nullptr) && got > 0)
            total += got;
        report.ok = std::sscanf(text, "sent=%llu first=%lld last=%lld", &report.sent, &report.firstTick,
                                &report.lastTick) == 3 &&
                    report.sent > 0;
        return report;
    }

private:
    Common::CHandle m_output;
    CChildProcess m_child;
};

} // namespace BenchSupport
