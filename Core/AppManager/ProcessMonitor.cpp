// Watches one registered process until it exits, then removes it as an
// unregistration would.
#include "AppManager.h"


#include "EffectRings.h"
#include "LogWriter.h"
#include "NamedEvents.h"
#include "ProcessName.h"

using namespace Common;

namespace
{
// Headset record posted when the last app is gone.
constexpr DWORD kHeadsetLastAppCode = 0x40510;

DWORD LogLastError(int line)
{
    return CLogWriter::GetInstance()->LogErrorCode(::GetLastError(), line);
}
} // namespace

DWORD CAppManager::DoMonitorProcess(DWORD processId)
{
    KLOG(LOG_INFO, L"[AppManager][START] DoMonitorProcess(%d)", processId);
    DWORD result = ERROR_SUCCESS;
    CHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    std::wstring path;
    if (!process)
        result = LogLastError(__LINE__);
    else if (!QueryProcessImage(process.Get(), path))
        result = LogLastError(__LINE__);
    else
        result = WatchProcess(processId, process.Get(), FileNamePart(path));
    KLOG(LOG_INFO, L"[AppManager][END] DoMonitorProcess(%d)", processId);
    return result;
}

DWORD CAppManager::DoMonitorProcess(DWORD processId, CHandle process, std::wstring fileName)
{
    KLOG(LOG_INFO, L"[AppManager][START] DoMonitorProcess(%d)", processId);
    DWORD result = ERROR_INVALID_HANDLE;
    if (process)
        result = WatchProcess(processId, process.Get(), fileName);
    else
        KLOG(LOG_ERROR, L"[AppManager] No process handle to watch pid %d", processId);
    KLOG(LOG_INFO, L"[AppManager][END] DoMonitorProcess(%d)", processId);
    return result;
}

// Waits for the process (opened with SYNCHRONIZE) to exit, then runs the
// exit steps. A process that is already gone is signalled at once.
DWORD CAppManager::WatchProcess(DWORD processId, HANDLE process, const std::wstring& fileName)
{
    KLOG(LOG_INFO, L"[AppManager] Start monitoring %s (pid = %d)", fileName.c_str(), processId);
    // The stop event ends the watch too: a monitor never outlives the
    // manager that started it.
    const HANDLE waits[2] = {process, m_stopEvent.Get()};
    const DWORD waited = ::WaitForMultipleObjects(m_stopEvent ? 2 : 1, waits, FALSE, INFINITE);
    if (waited == WAIT_OBJECT_0 + 1)
    {
        KLOG(LOG_INFO, L"[AppManager] Stop monitoring %s (pid = %d): module stopping", fileName.c_str(), processId);
        return ERROR_SUCCESS;
    }
    if (waited != WAIT_OBJECT_0)
        return LogLastError(__LINE__);
    OnProcessExited(processId, fileName);
    return ERROR_SUCCESS;
}

void CAppManager::OnProcessExited(DWORD processId, const std::wstring& fileName)
{
    KLOG(LOG_WARN, L"[AppManager] Procces %s(PID = %d) terminated unexpectedly", fileName.c_str(), processId);
    CRecursiveLock::CScopedLock guard(m_stateLock);
    UpdateAppList(fileName, processId, FALSE);
    UpdateActiveApp(0);
    AnnounceAppsChanged();
    const int count = TableCount();
    if (count <= 0)
    {
        m_pEffectRings->WriteHeadsetRecord(kHeadsetLastAppCode, EFFECT_HEADSET_LAST_APP);
        SetGlobalEffect(EFFECT_RELEASED, fileName);
    }
    m_registeredApps.erase(processId);
    PulseNamedEvent(REGISTRATIONS_CHANGED_EVENT);
    KLOG(LOG_INFO, L"[AppManager] Number of apps left running = %d", count);
}
