#pragma once
// Hands work from the pipe thread to the host's main thread and waits for
// it: the modules expect every call of their exports from the host's own
// thread.
#include <windows.h>
#include <functional>
#include "Handles.h"
#include "Locks.h"

namespace Host
{

class CMainThreadCall
{
public:
    CMainThreadCall() = default;
    CMainThreadCall(const CMainThreadCall&) = delete;
    CMainThreadCall& operator=(const CMainThreadCall&) = delete;

    DWORD Create();

    // Any thread but the main one: runs work on the main thread and returns
    // when it has run (ERROR_SUCCESS). When abortEvent is set before the main
    // thread took the work, the work is withdrawn: ERROR_OPERATION_ABORTED.
    DWORD Invoke(const std::function<void()>& work, HANDLE abortEvent);

    // Main thread: signalled while work is waiting.
    HANDLE PendingEvent() const { return m_pending.Get(); }
    // Main thread: runs the waiting work, if any.
    void RunPending();

private:
    Common::CSrwLock m_callers;  // one Invoke at a time
    Common::CSrwLock m_lock;     // guards m_work and m_taken
    const std::function<void()>* m_work = nullptr;
    bool m_taken = false;
    Common::CHandle m_pending;  // auto-reset: work was posted
    Common::CHandle m_done;     // auto-reset: the main thread finished it
};

} // namespace Host
