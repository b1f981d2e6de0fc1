#include "ThreadOwner.h"

#include <memory>

#include "LogWriter.h"
#include "ModulePin.h"

namespace Common
{

DWORD CThreadOwner::Launch(CBody* start, DWORD flags) noexcept
{
    std::unique_ptr<CBody> body(start);
    DWORD error = ERROR_NOT_ENOUGH_MEMORY;
    if (body && m_thread)
        error = ERROR_ALREADY_EXISTS;
    else if (body)
    {
        // Taken before the thread exists: it may run and end at once.
        const HMODULE pin = ModulePin::Pin();
        DWORD id = 0;
        if (pin)
            m_thread.Reset(::CreateThread(nullptr, 0, &CThreadOwner::Thunk, body.get(), flags, &id));
        if (m_thread)
        {
            body.release();  // the thread's now
            m_threadId = id;
            m_lingering = false;
            return ERROR_SUCCESS;
        }
        error = ::GetLastError();
        if (error == ERROR_SUCCESS)
            error = ERROR_GEN_FAILURE;
        if (pin)
            ::FreeLibrary(pin);
    }
    ::SetLastError(error);
    return error;
}

DWORD WINAPI CThreadOwner::Thunk(LPVOID param) noexcept
{
    DWORD code = ERROR_GEN_FAILURE;
    try
    {
        std::unique_ptr<CBody> body(static_cast<CBody*>(param));
        code = body->Run();
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[Thread] %lu ended by an exception", ::GetCurrentThreadId());
    }
    ModulePin::ExitPinnedThread(code);
}

bool CThreadOwner::Join(DWORD boundMs) noexcept
{
    if (!m_thread)
        return true;
    if (::WaitForSingleObject(m_thread.Get(), boundMs) != WAIT_OBJECT_0)
    {
        m_lingering = true;
        return false;
    }
    Detach();
    return true;
}

void CThreadOwner::Detach() noexcept
{
    m_thread.Reset();
    m_threadId = 0;
    m_lingering = false;
}

DWORD CThreadOwner::Resume() noexcept
{
    if (!m_thread)
        return ERROR_INVALID_HANDLE;
    return ::ResumeThread(m_thread.Get()) != static_cast<DWORD>(-1) ? ERROR_SUCCESS : ::GetLastError();
}

bool CThreadOwner::Running() const noexcept
{
    return m_thread && ::WaitForSingleObject(m_thread.Get(), 0) == WAIT_TIMEOUT;
}

} // namespace Common
