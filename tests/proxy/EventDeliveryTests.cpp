// Event delivery as the host sees it: the exact texts of each mode, the
// coalescing order, the bounds of the queues, and mode switches and unloads
// that never wait on a batch blocked inside the host's callback.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EventDelivery.h"
#include "Handles.h"

namespace EV = VxKaleoSDKProxy;
using nlohmann::json;

namespace
{

// The host's side: every text the callback received, from any thread. It
// can be told to block inside the callback, as a host waiting for its own
// busy thread does, and to throw after recording.
class CHost
{
public:
    CHost() : m_release(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

    static void Callback(const char* text);

    void Clear()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_texts.clear();
        m_throw = false;
        Release();
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_texts;
    }
    size_t Count() { return Texts().size(); }
    bool WaitForCount(size_t count, DWORD ms = 3000)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_changed.wait_for(hold, std::chrono::milliseconds(ms), [&] { return m_texts.size() >= count; });
    }
    void Hold() { ::ResetEvent(m_release.Get()); }
    void Release() { ::SetEvent(m_release.Get()); }
    void ThrowAfterRecording() { m_throw = true; }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
    Common::CHandle m_release;
    std::atomic<bool> m_throw{false};
};

CHost g_host;

void CHost::Callback(const char* text)
{
    {
        std::lock_guard<std::mutex> hold(g_host.m_lock);
        g_host.m_texts.emplace_back(text);
    }
    g_host.m_changed.notify_all();
    ::WaitForSingleObject(g_host.m_release.Get(), 10000);
    if (g_host.m_throw)
        throw std::runtime_error("host failure");
}

std::string Poll()
{
    char* text = EV::PollEvents();
    std::string copy = text ? text : "<null>";
    std::free(text);
    return copy;
}

// A lighting message as the reader hands it over; seq is the JSON text of
// "linkDeviceSeqId", null for a message without one.
json Lighting(DWORD handle, const char* seq, const std::string& tag)
{
    json message = {{"eventId", 2}, {"device_handle", handle}, {"tag", tag}};
    if (seq)
        message["linkDeviceSeqId"] = json::parse(seq);
    return message;
}

void Queue(DWORD handle, const char* seq, const std::string& tag)
{
    EV::QueueLightingEvent(handle, Lighting(handle, seq, tag));
}

// Committed private memory (Wine reports it only as PagefileUsage).
SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

class EventDelivery : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EV::ResetEventDelivery();
        g_host.Clear();
        EV::SetEventCallback(&CHost::Callback);
    }
    void TearDown() override
    {
        g_host.Release();
        EV::ResetEventDelivery();
    }
};

} // namespace

TEST_F(EventDelivery, PushedTextsAreCompactSortedAndWrappedExceptModeZeroLighting)
{
    const char* immediate = R"({"eventId":7,"device_handle":7,"b":[1,{"y":1,"x":"\u00e9"}]})";
    const char* wrapped =
        "{\"event\":\"onKaleoSdkLightingCallback\",\"payload\":"
        "{\"b\":[1,{\"x\":\"\xC3\xA9\",\"y\":1}],\"device_handle\":7,\"eventId\":7}}";
    const char* lighting = R"({"tag":"\u00e9","linkDeviceSeqId":1,"eventId":2,"device_handle":7})";
    const char* unwrapped = "{\"device_handle\":7,\"eventId\":2,\"linkDeviceSeqId\":1,\"tag\":\"\xC3\xA9\"}";
    const struct
    {
        DWORD mode;
        bool isLighting;
        const char* message;
        const char* expected;
    } cases[] = {
        {EV::MODE_IMMEDIATE, true, lighting, unwrapped},
        {9, true, lighting, unwrapped}, // an unknown mode behaves like mode 0
        {EV::MODE_IMMEDIATE, false, immediate, wrapped},
        {EV::MODE_POLLING, false, immediate, wrapped},
        {EV::MODE_BATCHED, false, immediate, wrapped},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << ": " << c.message);
        g_host.Clear();
        EV::SetOperatingMode(c.mode);
        if (c.isLighting)
            EV::QueueLightingEvent(7, json::parse(c.message));
        else
            EV::DeliverImmediate(json::parse(c.message));
        // Pushed on the caller's thread, before the call returns.
        EXPECT_EQ(std::vector<std::string>{c.expected}, g_host.Texts());
    }
}

TEST_F(EventDelivery, PollingCoalescesPerDeviceAndSequenceInThatOrder)
{
    struct Push
    {
        DWORD handle;
        const char* seq;
        const char* tag;
    };
    const struct
    {
        const char* name;
        std::vector<Push> pushes;
        std::vector<size_t> delivered; // indexes into pushes, in the expected order
    } cases[] = {
        {"latest per id", {{3023, "1", "a"}, {3023, "1", "b"}, {3023, "2", "c"}}, {1, 2}},
        {"by device", {{10, "0", "a"}, {5, "0", "b"}}, {1, 0}},
        {"negative ids stay in their device",
         {{6, "-1", "a"}, {5, "-1", "b"}, {6, "0", "c"}, {5, "4294967295", "d"}}, {3, 2, 0}},
        // "device_handle" is a signed int: 0x80000001 is negative and comes first.
        {"device_handle order for handles with the top bit set",
         {{5, "0", "a"}, {0x80000001u, "0", "b"}, {0xFFFFFFFFu, "0", "c"}}, {1, 2, 0}},
        {"missing id is 0; booleans and floats read as numbers",
         {{4, nullptr, "a"}, {4, "0", "b"}, {4, "true", "c"}, {4, "1", "d"}, {4, "2.9", "e"}, {4, "2", "f"}},
         {1, 3, 5}},
    };
    EV::SetOperatingMode(EV::MODE_POLLING);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        json expected = json::array();
        for (size_t i : c.delivered)
            expected.push_back(Lighting(c.pushes[i].handle, c.pushes[i].seq, c.pushes[i].tag));
        for (const Push& push : c.pushes)
            Queue(push.handle, push.seq, push.tag);
        EXPECT_EQ(expected.dump(), Poll());
        EXPECT_EQ("[]", Poll());
    }
    EXPECT_TRUE(g_host.Texts().empty());
}

TEST_F(EventDelivery, RefusedMessagesReachNobodyAndSpoilNoOtherEvent)
{
    json badText = Lighting(3, "0", "x");
    badText["tag"] = std::string("\xFF\xFE"); // not UTF-8: cannot be written
    const json refused[] = {Lighting(3, "\"1\"", "x"), Lighting(3, "null", "x"), Lighting(3, "[1]", "x"), badText};
    const json good = Lighting(3, "0", "good");
    const std::string goodBatch = json{{"event", "onKaleoSdkLightingCallback"}, {"payload", json::array({good})}}.dump();
    const struct
    {
        DWORD mode;
        std::string delivered;
    } cases[] = {
        {EV::MODE_IMMEDIATE, good.dump()},
        {EV::MODE_POLLING, json::array({good}).dump()},
        {EV::MODE_BATCHED, goodBatch},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode);
        g_host.Clear();
        EV::SetOperatingMode(c.mode);
        for (const json& message : refused)
            EXPECT_THROW(EV::QueueLightingEvent(3, json(message)), json::type_error);
        EXPECT_THROW(EV::DeliverImmediate(badText), json::type_error);
        EV::QueueLightingEvent(3, json(good));
        if (c.mode == EV::MODE_POLLING)
        {
            EXPECT_EQ(c.delivered, Poll());
            EXPECT_EQ(0u, g_host.Count());
        }
        else
        {
            EXPECT_TRUE(g_host.WaitForCount(1));
            EXPECT_EQ(std::vector<std::string>{c.delivered}, g_host.Texts());
        }
        EV::SetOperatingMode(EV::MODE_IMMEDIATE);
    }
}

TEST_F(EventDelivery, PollDrainsOnlyInPollingModeAndQueuesOutliveModeChanges)
{
    EV::SetOperatingMode(EV::MODE_POLLING);
    Queue(5, "1", "b");
    Queue(5, "0", "a");
    const std::string both = json::array({Lighting(5, "0", "a"), Lighting(5, "1", "b")}).dump();

    EV::SetOperatingMode(EV::MODE_IMMEDIATE);
    EXPECT_EQ("[]", Poll());
    EV::SetOperatingMode(EV::MODE_BATCHED);
    EXPECT_EQ("[]", Poll());
    // Ticks run, but the batch queue is empty: the host hears nothing.
    ::Sleep(200);
    EXPECT_GT(EV::GetEventDeliveryStats().ticks, 0u);
    EXPECT_EQ(0u, g_host.Count());

    EV::SetOperatingMode(EV::MODE_POLLING);
    EXPECT_EQ(both, Poll());
    EXPECT_EQ(2u, EV::GetEventDeliveryStats().peakPollEntries);
}

TEST_F(EventDelivery, BatchesAreOneExactTextPerTickAtMost25ASecondUntilTheModeChanges)
{
    EV::SetOperatingMode(EV::MODE_BATCHED);
    // A first batch blocks the timer's thread, so the next messages
    // surely meet in one batch.
    g_host.Hold();
    Queue(1, "0", "first");
    ASSERT_TRUE(g_host.WaitForCount(1));
    Queue(9, "2", "x");
    Queue(4, "0", "y");
    Queue(9, "2", "x2");
    Queue(0x80000000u, "0", "z"); // a negative "device_handle": first
    g_host.Release();
    ASSERT_TRUE(g_host.WaitForCount(2));
    EXPECT_EQ("{\"event\":\"onKaleoSdkLightingCallback\",\"payload\":["
              "{\"device_handle\":2147483648,\"eventId\":2,\"linkDeviceSeqId\":0,\"tag\":\"z\"},"
              "{\"device_handle\":4,\"eventId\":2,\"linkDeviceSeqId\":0,\"tag\":\"y\"},"
              "{\"device_handle\":9,\"eventId\":2,\"linkDeviceSeqId\":2,\"tag\":\"x2\"}]}",
              g_host.Texts()[1]);

    // A writer far faster than the timer: one batch per tick at most.
    g_host.Clear();
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(1000);
    for (int n = 0; std::chrono::steady_clock::now() < end; ++n)
    {
        Queue(1, "0", std::to_string(n));
        ::Sleep(1);
    }
    const size_t batches = g_host.Count();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LE(batches, static_cast<size_t>(elapsed.count() / 40 + 2));
    EXPECT_GE(batches, 5u);

    // Leaving mode 2 stops the ticks: the host hears nothing more from the
    // timer, and lighting events are pushed as themselves again.
    EV::SetOperatingMode(EV::MODE_IMMEDIATE);
    ::Sleep(80);
    const ULONGLONG ticks = EV::GetEventDeliveryStats().ticks;
    const size_t heard = g_host.Count();
    ::Sleep(200);
    EXPECT_EQ(ticks, EV::GetEventDeliveryStats().ticks);
    EXPECT_EQ(heard, g_host.Count());
    Queue(1, "0", "now");
    EXPECT_EQ(Lighting(1, "0", "now").dump(), g_host.Texts().back());
}

TEST_F(EventDelivery, LeavingBatchedModeNeverWaitsForABatchBlockedInTheHost)
{
    EV::SetOperatingMode(EV::MODE_BATCHED);
    g_host.Hold();
    Queue(1, "0", "blocked");
    ASSERT_TRUE(g_host.WaitForCount(1));

    // The host thread switches the mode while its callback is blocked
    // waiting for it.
    Common::CHandle switched(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread hostThread([&] {
        EV::SetOperatingMode(EV::MODE_POLLING);
        EV::SetOperatingMode(EV::MODE_IMMEDIATE);
        ::SetEvent(switched.Get());
    });
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(switched.Get(), 2000));
    g_host.Release();
    hostThread.join();
}

TEST_F(EventDelivery, DestroyingTheFrameWaitsForARunningBatch)
{
    std::atomic<bool> finished{false};
    Common::CHandle entered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    {
        EV::CDeviceFrame frame;
        frame.StartTimer([&](std::vector<std::string>&) {
            ::SetEvent(entered.Get());
            ::Sleep(300);
            finished = true;
        });
        frame.Queue(EV::CDeviceFrame::EQueue::Batch, 1, "{}");
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(entered.Get(), 2000));
    }
    EXPECT_TRUE(finished);
}

TEST_F(EventDelivery, QueuesRefuseNewKeysBeyondTheCapAndStayBounded)
{
    constexpr int cap = static_cast<int>(EV::CDeviceFrame::MAX_QUEUE_ENTRIES);
    EV::SetOperatingMode(EV::MODE_POLLING);
    auto push = [](int id, const char* tag) {
        EV::QueueLightingEvent(1, json{{"eventId", 2}, {"linkDeviceSeqId", id}, {"tag", tag}});
    };
    for (int id = 0; id < cap + 1000; ++id)
        push(id, "");
    push(0, "late"); // replacing an entry is still accepted
    EV::EventDeliveryStats stats = EV::GetEventDeliveryStats();
    EXPECT_EQ(static_cast<size_t>(cap), stats.peakPollEntries);
    EXPECT_EQ(1000u, stats.droppedByCap);

    // Another 200,000 new ids cost nothing.
    const SIZE_T before = PrivateBytes();
    for (int id = 1000000; id < 1200000; ++id)
        push(id, "");
    EXPECT_LT(PrivateBytes(), before + 4 * 1024 * 1024);
    EXPECT_EQ(201000u, EV::GetEventDeliveryStats().droppedByCap);

    const json drained = json::parse(Poll());
    ASSERT_EQ(static_cast<size_t>(cap), drained.size());
    EXPECT_EQ("late", drained.front()["tag"]);
    EXPECT_EQ(cap - 1, drained.back()["linkDeviceSeqId"]);
}

TEST_F(EventDelivery, ACallbackThatThrowsDoesNotStopDelivery)
{
    g_host.ThrowAfterRecording();
    EXPECT_NO_THROW(Queue(1, "0", "a"));
    EXPECT_NO_THROW(EV::DeliverImmediate(Lighting(1, "0", "b")));
    EXPECT_NO_THROW(Queue(1, "0", "c"));
    EXPECT_EQ(3u, g_host.Count());
}
