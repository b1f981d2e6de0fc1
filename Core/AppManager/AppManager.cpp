#include "AppManager.h"


#include "EffectRings.h"
#include "LogWriter.h"
#include "Registry.h"

using namespace Common;

namespace
{
// How often a stop event that could not be set is tried again.
constexpr DWORD kStopRetryMs = 200;
} // namespace

CAppManager::CAppManager() : m_pEffectRings(std::make_unique<CEffectRings>())
{
}

CAppManager::~CAppManager()
{
    // A manager destroyed while running still stops its threads first.
    UnInit();
}

DWORD CAppManager::Init()
{
    {
        CRecursiveLock::CScopedLock guard(m_stateLock);
        m_pAppData = std::make_unique<CAppData>();
        m_pAppData->Open();
        if (!m_pAppData->Create())
            KLOG(LOG_FATAL, L"[AppManager] File map object failed to create");
    }

    // Created before the table is revalidated: the monitors adopted there
    // wait on it too, so a stop always reaches them.
    if (!m_stopEvent)
    {
        m_stopEvent.Reset(CreateStopEvent());
        const DWORD error = ::GetLastError();
        if (!m_stopEvent)
            KLOG(LOG_ERROR, L"[AppManager] Cannot create the stop event (%lu): no worker thread is started", error);
    }

    ValidateAppsList();

    CRegKey appsKey;
    const LSTATUS rc =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_APPS_KEY, 0, KALEO_ALL_ACCESS, appsKey.Put());
    if (rc != ERROR_SUCCESS)
    {
        KLOG(LOG_ERROR, L"[AppManager] Cannot open the Apps key (%d): no request channel runs", rc);
        return rc;
    }
    EnsurePriorityList(appsKey.Get());
    appsKey.Reset();

    return StartWorkerThreads();
}

void CAppManager::EnsurePriorityList(HKEY appsKey)
{
    const LSTATUS rc = ::RegQueryValueExW(appsKey, L"PriorityList", nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_FILE_NOT_FOUND)
        return;
    const wchar_t empty[1] = {L'\0'};
    ::RegSetValueExW(appsKey, L"PriorityList", 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof(empty));
}

HANDLE CAppManager::CreateStopEvent()
{
    return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL CAppManager::SignalStop()
{
    return ::SetEvent(m_stopEvent.Get());
}

// Stopping: every worker thread and monitor task waits on the one manual-
// reset stop event in each of its waits, and ends when it is set. That is
// the only way they are told to end, so none starts without the event.
DWORD CAppManager::StartWorkerThreads()
{
    if (!m_stopEvent)
        return ERROR_INVALID_HANDLE;
    if (!m_registerThread.Owns())
        m_registerThread.Start(this, &CAppManager::RegisterThreadBody);
    if (!m_pipeThread.Owns())
        m_pipeThread.Start(this, &CAppManager::PipeThreadBody);
    if (!m_activeAppThread.Owns())
        m_activeAppThread.Start(this, &CAppManager::ActiveAppThreadBody);
    return ERROR_SUCCESS;
}

// Sets the stop event and joins every thread that exists, also after a
// start that failed half way. Never returns while one of them still runs.
void CAppManager::UnInit()
{
    const bool stopped = SetStopEvent();
    for (CThreadOwner* thread : {&m_registerThread, &m_pipeThread, &m_activeAppThread})
        thread->Join(INFINITE);
    // Monitors end on the stop event too; none may outlive the manager.
    if (stopped)
        m_tasks.Wait();
    m_stopEvent.Reset();
}

// True once the stop event is set. A failure is logged and the call tried
// again as long as a thread or task of the manager runs, since nothing else
// can end them.
bool CAppManager::SetStopEvent()
{
    if (!m_stopEvent)
        return false;
    for (bool reported = false;;)
    {
        if (SignalStop())
            return true;
        const DWORD error = ::GetLastError();
        if (!reported)
            KLOG(LOG_ERROR, L"[AppManager] Cannot set the stop event (%lu): trying again while threads run", error);
        reported = true;
        if (!AnyWorkerRuns())
            return false;
        ::Sleep(kStopRetryMs);
    }
}

bool CAppManager::AnyWorkerRuns() const
{
    for (const CThreadOwner* thread : {&m_registerThread, &m_pipeThread, &m_activeAppThread})
    {
        if (thread->Running())
            return true;
    }
    return m_tasks.Pending() != 0;
}

size_t CAppManager::RegisteredCount() const
{
    CRecursiveLock::CScopedLock guard(m_stateLock);
    return m_registeredApps.size();
}

bool CAppManager::HasWorkerThreads() const
{
    return m_registerThread.Owns() || m_pipeThread.Owns() || m_activeAppThread.Owns();
}

DWORD CAppManager::RegisterThreadBody()
{
    try
    {
        return DoMonitorRegister();
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Request ring thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}

DWORD CAppManager::PipeThreadBody()
{
    try
    {
        return DoMonitorRegister2();
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Control pipe thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}

DWORD CAppManager::ActiveAppThreadBody()
{
    try
    {
        DWORD lastEffect = 0;
        return DoMonitorActiveApp(&lastEffect);
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Active-app thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}
