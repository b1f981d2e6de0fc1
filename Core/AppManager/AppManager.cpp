#include "AppManager.h"

#include <mutex>

#include "EffectRings.h"
#include "LogWriter.h"
#include "Registry.h"

using namespace Common;

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
        std::lock_guard<CRecursiveLock> guard(m_stateLock);
        m_pAppData = std::make_unique<CAppData>();
        m_pAppData->Open();
        if (!m_pAppData->Create())
            KLOG(LOG_FATAL, L"[AppManager] File map object failed to create");
    }

    // Created before the table is revalidated: the monitors adopted there
    // wait on it too, so a stop always reaches them.
    if (!m_stopEvent)
        m_stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

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

    StartWorkerThreads();
    return ERROR_SUCCESS;
}

void CAppManager::EnsurePriorityList(HKEY appsKey)
{
    const LSTATUS rc = ::RegQueryValueExW(appsKey, L"PriorityList", nullptr, nullptr, nullptr, nullptr);
    if (rc != ERROR_FILE_NOT_FOUND)
        return;
    const wchar_t empty[1] = {L'\0'};
    ::RegSetValueExW(appsKey, L"PriorityList", 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof(empty));
}

void CAppManager::StartWorkerThreads()
{
    if (!m_registerThread)
        m_registerThread.Reset(::CreateThread(nullptr, 0, &CAppManager::RegisterThreadProc, this, 0, nullptr));
    if (!m_pipeThread)
        m_pipeThread.Reset(::CreateThread(nullptr, 0, &CAppManager::PipeThreadProc, this, 0, nullptr));
    if (!m_activeAppThread)
        m_activeAppThread.Reset(::CreateThread(nullptr, 0, &CAppManager::ActiveAppThreadProc, this, 0, nullptr));
}

void CAppManager::UnInit()
{
    if (!m_stopEvent)
        return;
    if (::SetEvent(m_stopEvent.Get()))
    {
        if (m_registerThread)
            ::WaitForSingleObject(m_registerThread.Get(), INFINITE);
        m_registerThread.Reset();
        StopPipeThread();
        if (m_activeAppThread)
            ::WaitForSingleObject(m_activeAppThread.Get(), INFINITE);
        m_activeAppThread.Reset();
        // Monitors and stop watchers all wait on the stop event as well, so
        // they end now; none may outlive the manager.
        m_tasks.Wait();
    }
    m_stopEvent.Reset();
}

// The pipe thread may sit in a blocking connect, or be just about to enter
// one. A single cancel can miss it, so cancel until the thread has ended;
// the module is never unloaded under a running thread.
void CAppManager::StopPipeThread()
{
    if (!m_pipeThread)
        return;
    while (::WaitForSingleObject(m_pipeThread.Get(), 0) == WAIT_TIMEOUT)
    {
        ::CancelSynchronousIo(m_pipeThread.Get());
        if (::WaitForSingleObject(m_pipeThread.Get(), 50) == WAIT_OBJECT_0)
            break;
    }
    m_pipeThread.Reset();
}

size_t CAppManager::RegisteredCount() const
{
    std::lock_guard<CRecursiveLock> guard(m_stateLock);
    return m_registeredApps.size();
}

bool CAppManager::HasWorkerThreads() const
{
    return m_registerThread.IsValid() || m_pipeThread.IsValid() || m_activeAppThread.IsValid();
}

DWORD WINAPI CAppManager::RegisterThreadProc(LPVOID param)
{
    try
    {
        return static_cast<CAppManager*>(param)->DoMonitorRegister();
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Request ring thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}

DWORD WINAPI CAppManager::PipeThreadProc(LPVOID param)
{
    try
    {
        return static_cast<CAppManager*>(param)->DoMonitorRegister2();
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Control pipe thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}

DWORD WINAPI CAppManager::ActiveAppThreadProc(LPVOID param)
{
    try
    {
        DWORD lastEffect = 0;
        return static_cast<CAppManager*>(param)->DoMonitorActiveApp(&lastEffect);
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Active-app thread ended by an exception");
        return ERROR_GEN_FAILURE;
    }
}
