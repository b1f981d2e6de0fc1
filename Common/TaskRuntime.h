#pragma once
// Parallel tasks on the process's default Win32 thread pool: fire-and-forget
// tasks and groups an owner can wait for. Tasks may
// block for as long as they like (app monitors wait on a process for hours): each one tells the pool so, and the pool adds
// threads instead of starving the other tasks.
//
// While a task of a module runs, the pool holds a reference on that module,
// so a library that is unloaded with tasks still running stays mapped until
// they have returned.
#include <windows.h>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace Common
{

// Queues fn on the default pool. False when it could not be queued; fn then
// never runs. An exception thrown by fn is caught and dropped.
bool ScheduleTask(std::function<void()> fn) noexcept;

// Tracks the tasks started through it so that an owner can wait until none of
// them still runs. Run, Wait and Pending may be called from any thread, also
// from the group's own tasks (a task may start follow-up tasks); Wait from one
// of the group's own tasks would wait for itself and never return.
class CTaskGroup
{
public:
    CTaskGroup();
    ~CTaskGroup();  // waits
    CTaskGroup(const CTaskGroup&) = delete;
    CTaskGroup& operator=(const CTaskGroup&) = delete;

    // Queues fn; false when it could not be queued. Exceptions of fn are dropped.
    bool Run(std::function<void()> fn) noexcept;
    // Blocks until every task started so far has ended.
    void Wait() noexcept;
    // Tasks started and not yet ended.
    size_t Pending() const noexcept;

private:
    struct CState;
    // Shared with the queued tasks: the last task may still be leaving the
    // state when the waiter already returned and destroyed the group.
    std::shared_ptr<CState> m_state;
};

} // namespace Common
