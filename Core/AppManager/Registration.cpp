// Registering and unregistering apps by process id or registration block.
#include "AppManager.h"

#include <mutex>

#include "LogWriter.h"
#include "NamedEvents.h"
#include "ProcessName.h"

using namespace Common;

namespace
{
constexpr size_t kTitleChars = sizeof(_REGISTERDATATYPE::szTitle) / sizeof(wchar_t);
constexpr size_t kDescriptionChars = sizeof(_REGISTERDATATYPE::szDescription) / sizeof(wchar_t);
constexpr size_t kAuthorChars = sizeof(_REGISTERDATATYPE::szAuthor) / sizeof(wchar_t);
constexpr size_t kContactChars = sizeof(_REGISTERDATATYPE::szContact) / sizeof(wchar_t);

void PulseRegistrationEvents()
{
    PulseNamedEvent(REGISTRATIONS_CHANGED_EVENT);
    PulseNamedEvent(APPS_CHANGED_EVENT);
}
} // namespace

DWORD CAppManager::GetProcessFileName(DWORD processId, wchar_t* buffer)
{
    CHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
    {
        KLOG(LOG_ERROR, L"[KaleoAppManager] OpenProcess(%ld) returns %ld", processId, ::GetLastError());
        return 0;
    }
    std::wstring path;
    if (!QueryProcessImage(process.Get(), path))
    {
        KLOG(LOG_ERROR, L"[KaleoAppManager] QueryFullProcessImageName(0x%08X) returns %ld",
             static_cast<unsigned>(reinterpret_cast<UINT_PTR>(process.Get())), ::GetLastError());
        return 0;
    }
    CopyToField(buffer, MAX_PATH, path);
    return static_cast<DWORD>(path.size());
}

void CAppManager::StartMonitor(DWORD processId)
{
    if (!m_tasks.Run([this, processId] { DoMonitorProcess(processId); }))
        KLOG(LOG_ERROR, L"[AppManager] Cannot start the monitor of pid %d", processId);
}

// The steps both forms share once the process is known: its record (from
// the block, or from its app information file), the priority list, its row,
// the active app, the notifications, its monitor and its map entry.
BOOL CAppManager::CompleteRegistration(DWORD processId, const std::wstring& fullPath, const _REGISTERDATATYPE* block)
{
    const std::wstring fileName = FileNamePart(fullPath);
    if (block)
        SetAppInfo(*block);
    else
        LoadAppInfo(processId, fullPath);
    AddToPriorityList(fileName);
    UpdateAppList(fileName, processId, TRUE);
    UpdateActiveApp(processId);
    PulseRegistrationEvents();
    StartMonitor(processId);
    m_registeredApps[processId] = CAppEntry{processId, fileName};
    return TRUE;
}

BOOL CAppManager::Register(DWORD processId)
{
    KLOG(LOG_INFO, L"[AppManager] Register app with pid = %d", processId);
    std::lock_guard<CRecursiveLock> guard(m_stateLock);
    BOOL result = FALSE;
    wchar_t fullPath[MAX_PATH] = {};
    if (!IsProcessAlive(processId))
        KLOG(LOG_ERROR, L"[AppManager] Invalid Process Id: Register(%d)", processId);
    else if (GetProcessFileName(processId, fullPath) == 0)
        KLOG(LOG_ERROR, L"[AppManager] GetProcessFileName() returns %d", ::GetLastError());
    else
        result = CompleteRegistration(processId, fullPath, nullptr);
    KLOG(LOG_INFO, L"[AppManager] [Register1] Number of apps running = %d", TableCount());
    return result;
}

BOOL CAppManager::Register(const _REGISTERDATATYPE* data)
{
    if (!data)
        return FALSE;
    // The block comes from another process: work on a copy, so its fields
    // cannot change under us, and read its texts bounded by their fields.
    const _REGISTERDATATYPE block = *data;
    const DWORD processId = block.dwProcessId;
    KLOG(LOG_INFO, L"[AppManager] Register2 app with pid = %d", processId);
    std::lock_guard<CRecursiveLock> guard(m_stateLock);
    BOOL result = FALSE;
    wchar_t fullPath[MAX_PATH] = {};
    if (!IsProcessAlive(processId))
        KLOG(LOG_ERROR, L"[AppManager] Invalid Process Id: Register(%d)", processId);
    else
    {
        KLOG(LOG_INFO,
             L"[AppManager] Register app=PID(%ld) | title=%s | desc=%s | author=%s | contact=%s | devices=0x%08X | "
             L"cat=%d",
             processId, FieldText(block.szTitle, kTitleChars).c_str(),
             FieldText(block.szDescription, kDescriptionChars).c_str(),
             FieldText(block.szAuthor, kAuthorChars).c_str(), FieldText(block.szContact, kContactChars).c_str(),
             block.dwDevices, block.dwCategory);
        if (GetProcessFileName(processId, fullPath) == 0)
            KLOG(LOG_ERROR, L"[AppManager] GetProcessFileName() returns %d", ::GetLastError());
        else
            result = CompleteRegistration(processId, fullPath, &block);
    }
    KLOG(LOG_INFO, L"[AppManager] [Register2] Number of apps running = %d", TableCount());
    return result;
}

BOOL CAppManager::Unregister(DWORD processId)
{
    KLOG(LOG_INFO, L"[AppManager] Unregistering app with pid = %d", processId);
    std::lock_guard<CRecursiveLock> guard(m_stateLock);
    std::wstring fileName;
    const auto it = m_registeredApps.find(processId);
    const bool registered = it != m_registeredApps.end();
    if (registered)
        fileName = it->second.strFileName;
    else
    {
        // Only a live process is unregistered without a map entry.
        CHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (!process || !IsProcessAlive(processId))
        {
            if (process)
                ::SetLastError(ERROR_INVALID_PARAMETER);
            KLOG(LOG_ERROR, L"[AppManager] OpenProcess(%d) returns %d", processId, ::GetLastError());
            return FALSE;
        }
        std::wstring path;
        if (!QueryProcessImage(process.Get(), path))
        {
            KLOG(LOG_ERROR, L"[AppManager] QueryFullProcessImageName() returns %d", ::GetLastError());
            return FALSE;
        }
        fileName = FileNamePart(path);
    }

    UpdateAppList(fileName, processId, FALSE);
    UpdateActiveApp(0);
    PulseNamedEvent(APPS_CHANGED_EVENT);
    const int count = TableCount();
    if (count < 1)
        SetGlobalEffect(EFFECT_RELEASED, fileName);
    KLOG(LOG_INFO, L"[AppManager] [Unregister] Number of apps running = %d", count);
    if (registered)
        m_registeredApps.erase(processId);
    PulseNamedEvent(REGISTRATIONS_CHANGED_EVENT);
    return TRUE;
}
