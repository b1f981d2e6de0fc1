#pragma once
// The event frame: the two coalescing queues of lighting events (one the
// host polls, one the batch timer flushes) and the timer with its private
// one-thread pool. What goes into a queue and when is decided by
// EventDelivery; this file only keeps the entries and runs the ticks.
#include <windows.h>
#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DeviceHandle.h"
#include "Handles.h"
#include "Locks.h"

namespace VxKaleoSDKProxy
{

// Base of the library's frame objects; carries no operations of its own.
class CMockObjectBase
{
public:
    virtual ~CMockObjectBase() = default;
};

// At process exit the frame is left to the system, so its pool and timer
// owners only run on an orderly unload, after the timer has been stopped
// and its running tick waited for.
using Common::CThreadpool;
using Common::CThreadpoolTimer;

// Queue key: the device handle in the high half, the low 32 bits of the
// message's sequence id in the low half. Signed, like "device_handle": keys
// ascend as the handles do, handles of 0x80000000 and more (negative) first.
// The low half is taken unsigned, so a negative sequence id stays inside its
// own device's range (after the others).
using EventKey = LONGLONG;

constexpr EventKey MakeEventKey(DEVICE_HANDLE deviceHandle, DWORD sequenceBits) noexcept
{
    return static_cast<EventKey>((static_cast<ULONGLONG>(deviceHandle) << 32) | sequenceBits);
}
static_assert(MakeEventKey(0x80000000u, 0) < MakeEventKey(5, 0) && MakeEventKey(5, 0) < MakeEventKey(5, 0xFFFFFFFFu),
              "keys follow the signed device handle, then the unsigned sequence bits");

// Counters for benchmarks and tests; peaks are since the last reset.
struct EventDeliveryStats
{
    size_t peakPollEntries = 0;
    size_t peakBatchEntries = 0;
    ULONGLONG droppedByCap = 0;  // new keys refused because a queue was full
    size_t largestBatch = 0;     // entries in the largest batch flushed
    ULONGLONG batches = 0;       // batches flushed to the host
    ULONGLONG ticks = 0;         // timer callbacks, empty ones included
};

class CDeviceFrame : public CMockObjectBase
{
public:
    // Coalescing bounds a queue to one entry per (device, sequence id); a
    // writer that invents ids is bounded by this cap instead.
    static constexpr size_t MAX_QUEUE_ENTRIES = 65536;
    // Batch timer: first tick 10 ms after the start (relative, in 100 ns
    // units), then every 40 ms: at most 25 batches a second.
    static constexpr LONGLONG FIRST_TICK_DUE = -100000;
    static constexpr DWORD TICK_PERIOD_MS = 40;
    // At most one line about refused events per this many milliseconds.
    static constexpr ULONGLONG DROP_LOG_INTERVAL_MS = 1000;

    // Entries are the compact texts of the messages: an entry costs what its
    // text costs, and a message that cannot be serialised is refused by the
    // caller before it is queued rather than spoiling a whole batch later.
    using EventQueue = std::map<EventKey, std::string>;
    // Receives the texts of one batch in key order (never empty).
    using Flush = std::function<void(std::vector<std::string>& texts)>;

    enum class EQueue { Poll, Batch };

    // Builds the private pool (at most one thread, so ticks never overlap)
    // and the timer, not started. Without a pool of its own the timer runs
    // on the process's default pool; without a timer no batch is flushed.
    CDeviceFrame() noexcept;
    // Stops the timer and waits for a running tick: never call it from a
    // tick or at process exit.
    ~CDeviceFrame() override;
    CDeviceFrame(const CDeviceFrame&) = delete;
    CDeviceFrame& operator=(const CDeviceFrame&) = delete;

    // Stores or replaces the entry of key. A new key is refused (false)
    // while the queue holds MAX_QUEUE_ENTRIES; the refusal is counted.
    bool Queue(EQueue queue, EventKey key, std::string&& text);
    // Moves every entry of the poll queue out, in key order.
    std::vector<std::string> DrainPoll();

    // Sets the flush and (re)starts the ticks.
    void StartTimer(Flush flush);
    // No new ticks; a running one completes on its own. Never waits, so it
    // is safe while a tick is blocked inside the host's callback.
    void StopTimer() noexcept;
    // Waits until no tick runs; pending expiries are cancelled when the
    // timer has been stopped.
    void WaitForTicks() noexcept;

    EventDeliveryStats Stats() noexcept;
    void ResetStats() noexcept;
    // Empties both queues and forgets the flush (tests start from here).
    void Clear() noexcept;

    static VOID CALLBACK OnTimer(PTP_CALLBACK_INSTANCE instance, PVOID context, PTP_TIMER timer) noexcept;

private:
    void Tick();
    void NoteRefused();

    EventQueue m_pollQueue;
    Common::CSrwLock m_pollMutex;  // guards m_pollQueue and m_peakPoll
    size_t m_peakPoll = 0;

    EventQueue m_batchQueue;
    Common::CSrwLock m_batchMutex;  // guards m_batchQueue, m_flush and the batch counters
    size_t m_peakBatch = 0;
    size_t m_largestBatch = 0;
    ULONGLONG m_batches = 0;
    Flush m_flush;

    std::atomic<ULONGLONG> m_ticks{0};
    std::atomic<ULONGLONG> m_refused{0};
    std::atomic<ULONGLONG> m_refusedLogged{0};
    std::atomic<ULONGLONG> m_lastRefusedLog{0};

    CThreadpool m_pool;
    TP_CALLBACK_ENVIRON m_callbackEnviron;
    CThreadpoolTimer m_timer;
};

} // namespace VxKaleoSDKProxy
