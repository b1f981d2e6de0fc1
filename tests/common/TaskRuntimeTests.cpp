// Tasks really run in parallel, the pool grows past the core count when tasks
// block, groups wait for slow tasks, exceptions stay inside tasks, and the
// lock excludes.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Handles.h"
#include "Locks.h"
#include "TaskRuntime.h"

namespace
{

constexpr DWORD kPatienceMs = 10000;  // far beyond any legitimate wait below

Common::CHandle NewEvent(bool manualReset = true)
{
    return Common::CHandle(::CreateEventW(nullptr, manualReset, FALSE, nullptr));
}

DWORD CoreCount()
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

bool Signalled(HANDLE h, DWORD timeoutMs)
{
    return ::WaitForSingleObject(h, timeoutMs) == WAIT_OBJECT_0;
}

// N parties that each block until all N have arrived; completes only when
// all N run at the same time.
class CBarrier
{
public:
    explicit CBarrier(LONG parties) : m_parties(parties), m_allHere(NewEvent()) {}

    void Arrive()
    {
        if (::InterlockedIncrement(&m_arrived) == m_parties)
            ::SetEvent(m_allHere.Get());
        if (Signalled(m_allHere.Get(), kPatienceMs))
            ::InterlockedIncrement(&m_released);
    }

    LONG Released() const { return m_released; }

private:
    const LONG m_parties;
    volatile LONG m_arrived = 0;
    volatile LONG m_released = 0;
    Common::CHandle m_allHere;
};

} // namespace

TEST(TaskScheduling, ScheduledTaskRunsOnAnotherThread)
{
    Common::CHandle done = NewEvent();
    std::atomic<DWORD> taskThread{0};
    HANDLE h = done.Get();
    ASSERT_TRUE(Common::ScheduleTask([&taskThread, h]() {
        taskThread = ::GetCurrentThreadId();
        ::SetEvent(h);
    }));
    ASSERT_TRUE(Signalled(h, kPatienceMs));
    EXPECT_NE(0u, taskThread.load());
    EXPECT_NE(::GetCurrentThreadId(), taskThread.load());
    EXPECT_FALSE(Common::ScheduleTask(std::function<void()>()));
}

TEST(TaskScheduling, ExceptionsStayInsideTheirTask)
{
    // Signals once both throwing tasks are destroyed, i.e. past their catch.
    struct CLastOneOut
    {
        explicit CLastOneOut(HANDLE e) : event(e) {}
        ~CLastOneOut() { ::SetEvent(event); }
        HANDLE event;
    };
    Common::CHandle thrown = NewEvent();
    Common::CHandle after = NewEvent();
    HANDLE h = after.Get();
    {
        auto token = std::make_shared<CLastOneOut>(thrown.Get());
        ASSERT_TRUE(Common::ScheduleTask([token]() { throw std::runtime_error("scheduled"); }));
        ASSERT_TRUE(Common::ScheduleTask([token]() { throw 42; }));
    }
    ASSERT_TRUE(Common::ScheduleTask([h]() { ::SetEvent(h); }));
    EXPECT_TRUE(Signalled(h, kPatienceMs));
    EXPECT_TRUE(Signalled(thrown.Get(), kPatienceMs));

    // A throwing task still counts as ended for its group.
    Common::CTaskGroup group;
    ASSERT_TRUE(group.Run([]() { throw std::logic_error("grouped"); }));
    group.Wait();
    EXPECT_EQ(0u, group.Pending());
}

TEST(TaskScheduling, BlockingTasksBeyondCoreCountAllRun)
{
    // Every task blocks until all have started: only a pool that adds
    // threads for blocked tasks gets them all going.
    const LONG parties = static_cast<LONG>(CoreCount() * 4 + 4 < 16 ? 16 : CoreCount() * 4 + 4);
    CBarrier barrier(parties);
    Common::CTaskGroup group;
    for (LONG i = 0; i < parties; ++i)
        ASSERT_TRUE(group.Run([&barrier]() { barrier.Arrive(); }));
    group.Wait();
    EXPECT_EQ(parties, barrier.Released());
}

TEST(TaskGroup, WaitCoversSlowAndFollowUpTasks)
{
    Common::CHandle gate = NewEvent();
    HANDLE g = gate.Get();
    std::atomic<int> finished{0};
    Common::CTaskGroup group;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(group.Run([g, &finished]() {
            Signalled(g, kPatienceMs);
            ::Sleep(50);
            ++finished;
        }));
    // A task that starts another one before it ends: Wait covers both.
    ASSERT_TRUE(group.Run([&group, &finished]() {
        group.Run([&finished]() {
            ::Sleep(200);
            ++finished;
        });
        ++finished;
    }));
    ::Sleep(50);
    EXPECT_GE(group.Pending(), 3u);
    ::SetEvent(g);
    group.Wait();
    EXPECT_EQ(5, finished.load());
    EXPECT_EQ(0u, group.Pending());
}

TEST(TaskGroup, EmptyGroupWaitReturnsAtOnceAndDestructorWaits)
{
    {
        Common::CTaskGroup empty;
        const ULONGLONG start = ::GetTickCount64();
        empty.Wait();
        EXPECT_LT(::GetTickCount64() - start, 100u);
        EXPECT_EQ(0u, empty.Pending());
    }
    std::atomic<bool> done{false};
    {
        Common::CTaskGroup group;
        ASSERT_TRUE(group.Run([&done]() {
            ::Sleep(200);
            done = true;
        }));
    }
    EXPECT_TRUE(done.load());
}

TEST(SrwLock, ExcludesUnderContention)
{
    Common::CSrwLock cs;
    long counter = 0;  // deliberately not atomic
    std::atomic<int> inside{0};
    std::atomic<bool> overlap{false};
    auto work = [&]() {
        for (int i = 0; i < 20000; ++i)
        {
            std::lock_guard<Common::CSrwLock> guard(cs);
            if (++inside != 1)
                overlap = true;
            long v = counter;
            if ((i & 1023) == 0)
                ::SwitchToThread();
            counter = v + 1;
            --inside;
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(overlap.load());
    EXPECT_EQ(6 * 20000, counter);
}

TEST(SrwLock, TryLockFailsWhileHeld)
{
    Common::CSrwLock cs;
    auto tryFromOtherThread = [&cs]() {
        bool got = false;
        std::thread other([&]() {
            got = cs.try_lock();
            if (got)
                cs.unlock();
        });
        other.join();
        return got;
    };
    {
        Common::CSrwLock::CScopedLock lock(cs);
        EXPECT_FALSE(tryFromOtherThread());
        EXPECT_FALSE(cs.try_lock());  // not recursive
    }
    EXPECT_TRUE(tryFromOtherThread());
    ASSERT_TRUE(cs.try_lock());
    cs.unlock();
}
