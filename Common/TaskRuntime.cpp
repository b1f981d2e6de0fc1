// Parallel tasks on the default Win32 thread pool; see TaskRuntime.h.
#include "TaskRuntime.h"

#include <new>

#include "Locks.h"
#include "ModulePin.h"

namespace Common
{
namespace
{

// One callback environment for every task of this module: the default pool,
// long-running callbacks, and a reference on this module while a callback runs.
class CTaskEnvironment
{
public:
    CTaskEnvironment() noexcept
    {
        ::InitializeThreadpoolEnvironment(&m_env);
        ::SetThreadpoolCallbackRunsLong(&m_env);
        if (const HMODULE self = ModulePin::Self())
            ::SetThreadpoolCallbackLibrary(&m_env, self);
    }
    // No destructor work: the environment holds no resources, and tasks may
    // still be queued while static objects are torn down.

    TP_CALLBACK_ENVIRON* Get() noexcept { return &m_env; }

private:
    TP_CALLBACK_ENVIRON m_env;
};

TP_CALLBACK_ENVIRON* TaskEnvironment() noexcept
{
    static CTaskEnvironment s_env;  // thread-safe one-time creation
    return s_env.Get();
}

void CALLBACK RunTask(PTP_CALLBACK_INSTANCE instance, void* context) noexcept
{
    std::unique_ptr<std::function<void()>> fn(static_cast<std::function<void()>*>(context));
    // Tasks may block for hours; without this hint a few of them would hold
    // every thread the pool is willing to start.
    ::CallbackMayRunLong(instance);
    try
    {
        (*fn)();
    }
    catch (...)
    {
        // Dropped: a task has nobody to report to, and the process must live.
    }
}

} // namespace

bool ScheduleTask(std::function<void()> fn) noexcept
{
    if (!fn)
        return false;
    std::function<void()>* heap = new (std::nothrow) std::function<void()>(std::move(fn));
    if (heap == nullptr)
        return false;
    if (!::TrySubmitThreadpoolCallback(&RunTask, heap, TaskEnvironment()))
    {
        delete heap;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

struct CTaskGroup::CState
{
    mutable CSrwLock m_lock;
    CONDITION_VARIABLE m_idle = CONDITION_VARIABLE_INIT;
    size_t m_pending = 0;

    void Add() noexcept
    {
        CSrwLock::CScopedLock guard(m_lock);
        ++m_pending;
    }

    void Done() noexcept
    {
        bool idle = false;
        {
            CSrwLock::CScopedLock guard(m_lock);
            idle = --m_pending == 0;
        }
        if (idle)
            ::WakeAllConditionVariable(&m_idle);
    }
};

CTaskGroup::CTaskGroup() : m_state(std::make_shared<CState>()) {}

CTaskGroup::~CTaskGroup()
{
    Wait();
}

bool CTaskGroup::Run(std::function<void()> fn) noexcept
{
    if (!fn)
        return false;
    // Counted before it is queued, so a Wait that starts meanwhile covers it.
    m_state->Add();
    bool queued = false;
    try
    {
        std::shared_ptr<CState> state = m_state;
        queued = ScheduleTask([state, fn = std::move(fn)]() {
            // Caught here rather than by ScheduleTask: the task counts as
            // ended only once its exception has been dealt with entirely.
            try
            {
                fn();
            }
            catch (...)
            {
            }
            state->Done();
        });
    }
    catch (...)
    {
        queued = false;  // out of memory while wrapping fn
    }
    if (!queued)
        m_state->Done();
    return queued;
}

void CTaskGroup::Wait() noexcept
{
    CSrwLock::CScopedLock guard(m_state->m_lock);
    while (m_state->m_pending != 0)
        ::SleepConditionVariableSRW(&m_state->m_idle, m_state->m_lock.Native(), INFINITE, 0);
}

size_t CTaskGroup::Pending() const noexcept
{
    CSrwLock::CSharedLock guard(m_state->m_lock);
    return m_state->m_pending;
}

} // namespace Common
