// Work handed to the host's main thread; see MainThreadCall.h.
#include "MainThreadCall.h"

#include "HostOutput.h"

namespace Host
{

DWORD CMainThreadCall::Create()
{
    m_pending.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_done.Reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    return m_pending && m_done ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CMainThreadCall::Invoke(const std::function<void()>& work, HANDLE abortEvent)
{
    Common::CSrwLock::CScopedLock caller(m_callers);
    {
        Common::CSrwLock::CScopedLock lock(m_lock);
        m_work = &work;
        m_taken = false;
    }
    ::SetEvent(m_pending.Get());
    HANDLE waits[2] = {m_done.Get(), abortEvent};
    if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0)
        return ERROR_SUCCESS;
    {
        Common::CSrwLock::CScopedLock lock(m_lock);
        if (!m_taken)
        {
            m_work = nullptr;  // withdrawn: the main thread will find nothing
            return ERROR_OPERATION_ABORTED;
        }
    }
    // Already running: work refers to the caller's stack, so wait it out.
    ::WaitForSingleObject(m_done.Get(), INFINITE);
    return ERROR_SUCCESS;
}

void CMainThreadCall::RunPending()
{
    const std::function<void()>* work = nullptr;
    {
        Common::CSrwLock::CScopedLock lock(m_lock);
        work = m_work;
        m_work = nullptr;
        m_taken = work != nullptr;
    }
    if (work == nullptr)
        return;
    try
    {
        (*work)();
    }
    catch (...)
    {
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] A request failed with an exception");
    }
    ::SetEvent(m_done.Get());
}

} // namespace Host
