#include "EventDelivery.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "EventSequence.h"

namespace VxKaleoSDKProxy
{

namespace
{

constexpr char kEventName[] = "onKaleoSdkLightingCallback";

std::atomic<EventCallback> g_callback{nullptr};
std::atomic<DWORD> g_mode{MODE_IMMEDIATE};
std::atomic<CDeviceFrame*> g_frame{nullptr};

// The process-wide frame, built on first use and freed only by
// ShutdownEventDelivery: a static object would be destroyed by the loader,
// under its lock, at a moment we do not choose. Null after the shutdown or
// when it could not be built.
CDeviceFrame* Frame() noexcept
{
    static const bool built = [] {
        g_frame.store(new (std::nothrow) CDeviceFrame());
        return true;
    }();
    static_cast<void>(built);
    return g_frame.load();
}

DWORD EffectiveMode() noexcept
{
    const DWORD mode = g_mode.load();
    return mode <= MODE_BATCHED ? mode : MODE_IMMEDIATE;
}

// {"event":...,"payload":<payload>}: the members in byte order, as the
// JSON library would write the object.
std::string WrapEvent(const std::string& payload)
{
    std::string text = "{\"event\":\"";
    text.reserve(text.size() + sizeof(kEventName) + payload.size() + 16);
    text += kEventName;
    text += "\",\"payload\":";
    text += payload;
    text += '}';
    return text;
}

// The compact array of already serialised values.
std::string JoinArray(const std::vector<std::string>& texts)
{
    size_t size = 2 + texts.size();
    for (const std::string& text : texts)
        size += text.size();
    std::string joined;
    joined.reserve(size);
    joined += '[';
    for (size_t i = 0; i < texts.size(); ++i)
    {
        if (i != 0)
            joined += ',';
        joined += texts[i];
    }
    joined += ']';
    return joined;
}

void FlushBatch(std::vector<std::string>& texts)
{
    FireEventCallback(WrapEvent(JoinArray(texts)).c_str());
}

char* CopyToMalloc(const std::string& text) noexcept
{
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

void SetEventCallback(EventCallback callback) noexcept
{
    g_callback.store(callback);
}

void SetOperatingMode(DWORD mode) noexcept
{
    g_mode.exchange(mode);
    CDeviceFrame* frame = Frame();
    if (!frame)
        return;
    if (mode != MODE_BATCHED)
    {
        frame->StopTimer();
        return;
    }
    try
    {
        frame->StartTimer(&FlushBatch);
    }
    catch (...)
    {
        // No memory for the flush: the timer stays as it was.
    }
}

DWORD OperatingMode() noexcept
{
    return g_mode.load();
}

char* PollEvents() noexcept
{
    try
    {
        std::vector<std::string> texts;
        CDeviceFrame* frame = Frame();
        if (frame && EffectiveMode() == MODE_POLLING)
            texts = frame->DrainPoll();
        return CopyToMalloc(JoinArray(texts));
    }
    catch (...)
    {
        return nullptr;
    }
}

void FireEventCallback(const char* text) noexcept
{
    // One load: a callback replaced or cleared meanwhile is either called
    // whole or not at all.
    const EventCallback callback = g_callback.load();
    if (!callback || !text)
        return;
    try
    {
        callback(text);
    }
    catch (...)
    {
        // The host's failure is its own; delivery goes on with the next event.
    }
}

void DeliverImmediate(const nlohmann::json& message)
{
    FireEventCallback(WrapEvent(message.dump()).c_str());
}

void QueueLightingEvent(DEVICE_HANDLE deviceHandle, nlohmann::json&& message)
{
    const EventKey key = MakeEventKey(deviceHandle, SequenceBits(message));
    // Serialised before it is queued, so a message that cannot be written
    // is refused here, on the reader's thread, and never reaches a batch.
    std::string text = message.dump();
    const DWORD mode = EffectiveMode();
    if (mode == MODE_IMMEDIATE)
    {
        FireEventCallback(text.c_str());
        return;
    }
    if (CDeviceFrame* frame = Frame())
        frame->Queue(mode == MODE_POLLING ? CDeviceFrame::EQueue::Poll : CDeviceFrame::EQueue::Batch, key,
                     std::move(text));
}

void ShutdownEventDelivery(bool processExit) noexcept
{
    CDeviceFrame* frame = g_frame.exchange(nullptr);
    if (!frame)
        return;
    // At process exit every other thread has been ended where it stood,
    // perhaps holding the thread pool's own locks: even stopping the timer
    // could block. No tick runs again, and the memory goes with the process.
    if (processExit)
        return;
    delete frame;
}

EventDeliveryStats GetEventDeliveryStats() noexcept
{
    CDeviceFrame* frame = Frame();
    return frame ? frame->Stats() : EventDeliveryStats{};
}

void ResetEventDeliveryStats() noexcept
{
    if (CDeviceFrame* frame = Frame())
        frame->ResetStats();
}

void ResetEventDelivery() noexcept
{
    g_mode.store(MODE_IMMEDIATE);
    g_callback.store(nullptr);
    CDeviceFrame* frame = Frame();
    if (!frame)
        return;
    frame->StopTimer();
    frame->WaitForTicks();
    frame->Clear();
    frame->ResetStats();
}

} // namespace VxKaleoSDKProxy
