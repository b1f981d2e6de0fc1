#include "DeviceFrame.h"

#include <algorithm>
#include <climits>

#include "LogWriter.h"
#include "ModulePin.h"

namespace VxKaleoSDKProxy
{

namespace
{

using Common::CSrwLock;

// Stores or replaces; a new key only while the queue has room.
bool Store(CDeviceFrame::EventQueue& queue, EventKey key, std::string&& text)
{
    const auto at = queue.lower_bound(key);
    if (at != queue.end() && at->first == key)
    {
        at->second = std::move(text);
        return true;
    }
    if (queue.size() >= CDeviceFrame::MAX_QUEUE_ENTRIES)
        return false;
    queue.emplace_hint(at, key, std::move(text));
    return true;
}

// The values of a queue taken out under its lock, in key order; the nodes
// are freed after the lock is released.
std::vector<std::string> TakeAll(CDeviceFrame::EventQueue&& taken)
{
    std::vector<std::string> texts;
    texts.reserve(taken.size());
    for (auto& entry : taken)
        texts.push_back(std::move(entry.second));
    return texts;
}

unsigned ClampToUnsigned(ULONGLONG value) noexcept
{
    return value > UINT_MAX ? UINT_MAX : static_cast<unsigned>(value);
}

} // namespace

CDeviceFrame::CDeviceFrame() noexcept : m_pool(::CreateThreadpool(nullptr))
{
    ::InitializeThreadpoolEnvironment(&m_callbackEnviron);
    ::SetThreadpoolCallbackPriority(&m_callbackEnviron, TP_CALLBACK_PRIORITY_NORMAL);
    // A running tick holds a reference on this library, so the host's
    // unload never waits, inside the loader, for a batch in flight. (Wine
    // holds it for the timer's whole life: there the library stays loaded
    // until the process ends once the frame exists.)
    ::SetThreadpoolCallbackLibrary(&m_callbackEnviron, ModulePin::Self());
    if (m_pool)
    {
        ::SetThreadpoolThreadMaximum(m_pool.Get(), 1);
        ::SetThreadpoolCallbackPool(&m_callbackEnviron, m_pool.Get());
    }
    else
    {
        KLOG(Common::LOG_ERROR, L"%s | CreateThreadpool | error = %d", L"CDeviceFrame::CDeviceFrame",
             static_cast<int>(::GetLastError()));
    }
    m_timer.Reset(::CreateThreadpoolTimer(&CDeviceFrame::OnTimer, this, &m_callbackEnviron));
    if (!m_timer)
    {
        KLOG(Common::LOG_ERROR, L"%s | CreateThreadpoolTimer | error = %d", L"CDeviceFrame::CDeviceFrame",
             static_cast<int>(::GetLastError()));
    }
}

CDeviceFrame::~CDeviceFrame()
{
    StopTimer();
    WaitForTicks();
    m_timer.Reset();
    ::DestroyThreadpoolEnvironment(&m_callbackEnviron);
}

bool CDeviceFrame::Queue(EQueue which, EventKey key, std::string&& text)
{
    const bool poll = which == EQueue::Poll;
    EventQueue& queue = poll ? m_pollQueue : m_batchQueue;
    size_t& peak = poll ? m_peakPoll : m_peakBatch;
    bool stored = false;
    {
        CSrwLock::CScopedLock hold(poll ? m_pollMutex : m_batchMutex);
        stored = Store(queue, key, std::move(text));
        peak = std::max(peak, queue.size());
    }
    if (!stored)
        NoteRefused();
    return stored;
}

std::vector<std::string> CDeviceFrame::DrainPoll()
{
    EventQueue taken;
    {
        CSrwLock::CScopedLock hold(m_pollMutex);
        taken.swap(m_pollQueue);
    }
    return TakeAll(std::move(taken));
}

void CDeviceFrame::StartTimer(Flush flush)
{
    {
        CSrwLock::CScopedLock hold(m_batchMutex);
        m_flush = std::move(flush);
    }
    if (!m_timer)
        return;
    ULARGE_INTEGER bits;
    bits.QuadPart = static_cast<ULONGLONG>(FIRST_TICK_DUE);
    FILETIME due = {bits.LowPart, bits.HighPart};
    ::SetThreadpoolTimer(m_timer.Get(), &due, TICK_PERIOD_MS, 0);
}

void CDeviceFrame::StopTimer() noexcept
{
    if (m_timer)
        ::SetThreadpoolTimer(m_timer.Get(), nullptr, 0, 0);
}

void CDeviceFrame::WaitForTicks() noexcept
{
    if (m_timer)
        ::WaitForThreadpoolTimerCallbacks(m_timer.Get(), TRUE);
}

VOID CALLBACK CDeviceFrame::OnTimer(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) noexcept
{
    try
    {
        static_cast<CDeviceFrame*>(context)->Tick();
    }
    catch (...)
    {
        // Out of memory while moving a batch: that batch is lost, the next
        // tick starts afresh.
    }
}

void CDeviceFrame::Tick()
{
    ++m_ticks;
    EventQueue taken;
    Flush flush;
    {
        CSrwLock::CScopedLock hold(m_batchMutex);
        if (!m_flush || m_batchQueue.empty())
            return;
        taken.swap(m_batchQueue);
        flush = m_flush;
        m_largestBatch = std::max(m_largestBatch, taken.size());
        ++m_batches;
    }
    std::vector<std::string> texts = TakeAll(std::move(taken));
    flush(texts);
}

void CDeviceFrame::NoteRefused()
{
    const ULONGLONG total = ++m_refused;
    const ULONGLONG now = ::GetTickCount64();
    ULONGLONG last = m_lastRefusedLog.load();
    if (last != 0 && now - last < DROP_LOG_INTERVAL_MS)
        return;
    // One thread reports; the others' refusals go into the next report.
    if (!m_lastRefusedLog.compare_exchange_strong(last, now))
        return;
    const ULONGLONG since = total - m_refusedLogged.exchange(total);
    KLOG(Common::LOG_WARN, L"%s | queue full (%u entries) | %u new events refused since the last report, %u in all",
         L"CDeviceFrame::Queue", static_cast<unsigned>(MAX_QUEUE_ENTRIES), ClampToUnsigned(since),
         ClampToUnsigned(total));
}

EventDeliveryStats CDeviceFrame::Stats() noexcept
{
    EventDeliveryStats stats;
    {
        CSrwLock::CScopedLock hold(m_pollMutex);
        stats.peakPollEntries = m_peakPoll;
    }
    {
        CSrwLock::CScopedLock hold(m_batchMutex);
        stats.peakBatchEntries = m_peakBatch;
        stats.largestBatch = m_largestBatch;
        stats.batches = m_batches;
    }
    stats.droppedByCap = m_refused.load();
    stats.ticks = m_ticks.load();
    return stats;
}

void CDeviceFrame::ResetStats() noexcept
{
    {
        CSrwLock::CScopedLock hold(m_pollMutex);
        m_peakPoll = m_pollQueue.size();
    }
    {
        CSrwLock::CScopedLock hold(m_batchMutex);
        m_peakBatch = m_batchQueue.size();
        m_largestBatch = 0;
        m_batches = 0;
    }
    m_refused = 0;
    m_refusedLogged = 0;
    m_ticks = 0;
}

void CDeviceFrame::Clear() noexcept
{
    EventQueue poll;
    EventQueue batch;
    Flush flush;
    {
        CSrwLock::CScopedLock hold(m_pollMutex);
        poll.swap(m_pollQueue);
    }
    {
        CSrwLock::CScopedLock hold(m_batchMutex);
        batch.swap(m_batchQueue);
        flush.swap(m_flush);
    }
}

} // namespace VxKaleoSDKProxy
