// kaleoctl pipe flood: lighting events at a given rate over a number of
// link device ids, for a reader's coalescing and latency to be measured.
// Each message carries the QueryPerformanceCounter value taken just before
// it is written; the counter is the same for every process of the machine.
#include <windows.h>

#include "Console.h"
#include "Pipe.h"
#include "PipeClient.h"
#include "PipeMessages.h"

namespace
{

constexpr unsigned long kMaxRate = 1000000;
constexpr unsigned long kMaxIds = 1000000;
constexpr unsigned long kMaxSeconds = 3600;

struct CFloodPlan
{
    unsigned long rate = 100; // messages per second; 0: as fast as possible
    unsigned long ids = 1;
    unsigned long seconds = 1;
    unsigned long size = 0; // 0: not padded
};

LONGLONG Now()
{
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// Sleeps until the counter reaches `due`, in whole milliseconds: a message
// may leave up to a millisecond early, and one that is late leaves at
// once, so the rate holds on average without spinning.
void WaitUntil(LONGLONG due, LONGLONG frequency)
{
    const LONGLONG now = Now();
    if (now >= due)
        return;
    const LONGLONG ms = (due - now) * 1000 / frequency;
    if (ms > 0)
        ::Sleep(static_cast<DWORD>(ms));
}

struct CFloodResult
{
    ULONGLONG sent = 0;
    double seconds = 0;
};

// Writes until the time is up (or, paced, until the last message due
// within it has been written); 0 or the failed write's error.
DWORD Run(PipeCmd::CPipeClient& client, const CFloodPlan& plan, CFloodResult& result)
{
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const LONGLONG start = Now();
    const LONGLONG end = start + static_cast<LONGLONG>(plan.seconds) * frequency.QuadPart;
    DWORD status = ERROR_SUCCESS;
    for (ULONGLONG n = 0;; ++n)
    {
        if (plan.rate != 0)
        {
            // At most rate * seconds (3.6e9) times a counter frequency of
            // a few GHz: within 64 bits.
            const LONGLONG due = start + static_cast<LONGLONG>(n * frequency.QuadPart / plan.rate);
            if (due >= end)
                break;
            WaitUntil(due, frequency.QuadPart);
        }
        const LONGLONG now = Now();
        if (now >= end)
            break;
        status = client.Write(PipeCmd::LightingEvent(static_cast<DWORD>(n % plan.ids), n, now, plan.size));
        if (status != ERROR_SUCCESS)
            break;
        ++result.sent;
    }
    // A paced flood that finished writes its last message a little before
    // the end; its rate is over the whole time asked for.
    const LONGLONG stop = Now();
    const LONGLONG until = status == ERROR_SUCCESS && stop < end ? end : stop;
    result.seconds = static_cast<double>(until - start) / frequency.QuadPart;
    return status;
}

bool TakePlan(CArgs& args, CFloodPlan& plan)
{
    return PipeCmd::TakeBounded(args, L"--rate", 0, kMaxRate, plan.rate) &&
           PipeCmd::TakeBounded(args, L"--ids", 1, kMaxIds, plan.ids) &&
           PipeCmd::TakeBounded(args, L"--seconds", 1, kMaxSeconds, plan.seconds) &&
           PipeCmd::TakeBounded(args, L"--size", 0, PipeCmd::MAX_MESSAGE_BYTES, plan.size);
}

} // namespace

namespace PipeCmd
{

int Flood(CArgs& args, const CTarget& targetIn)
{
    CFloodPlan plan;
    if (!TakePlan(args, plan) || !NoMoreArgs(args, L"flood"))
        return 2;
    CTarget target = targetIn;
    const int rc = ResolveTarget(target);
    if (rc != 0)
        return rc;

    CPipeClient client;
    DWORD status = client.Connect(target.name, target.dwWaitMs);
    if (status != ERROR_SUCCESS)
    {
        Console::Error(L"pipe flood: cannot open %s within %lu ms: %s\n", Describe(target).c_str(), target.dwWaitMs,
                       DescribePipeError(status).c_str());
        return 1;
    }
    CFloodResult result;
    status = Run(client, plan, result);
    if (status == ERROR_SUCCESS)
        status = client.Close();
    const std::wstring asked = plan.rate == 0 ? std::wstring(L"as fast as possible")
                                              : Console::Format(L"asked for %lu", plan.rate);
    const std::wstring summary =
        Console::Format(L"%llu messages over %lu id%s in %.2f s (%.1f msgs/s, %s) to %s", result.sent, plan.ids,
                        plan.ids == 1 ? L"" : L"s", result.seconds,
                        result.seconds > 0 ? static_cast<double>(result.sent) / result.seconds : 0.0, asked.c_str(),
                        Describe(target).c_str());
    if (status != ERROR_SUCCESS)
    {
        // Written is not read: the pipe's buffer may hold the last ones.
        Console::Error(L"pipe flood: %s; written before: %s\n", DescribePipeError(status).c_str(), summary.c_str());
        return 1;
    }
    Console::Print(L"flood: sent %s\n", summary.c_str());
    return 0;
}

} // namespace PipeCmd
