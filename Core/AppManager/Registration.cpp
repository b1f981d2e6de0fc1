// Registering and unregistering apps by process id or registration block.
#include "AppManager.h"

#include <exception>
#include <memory>

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

// The registering process, opened once and kept for its monitor; empty
// (logged) when it does not run.
CHandle OpenRegisteringProcess(DWORD processId)
{
    CHandle process = OpenLiveProcess(processId);
    if (!process)
        KLOG(LOG_ERROR, L"[AppManager] Invalid Process Id: Register(%d)", processId);
    return process;
}

// Its full image path, read through that same handle.
bool ReadRegisteringPath(const CHandle& process, std::wstring& fullPath)
{
    if (QueryProcessImage(process.Get(), fullPath) && !fullPath.empty())
        return true;
    const DWORD error = ::GetLastError();
    KLOG(LOG_ERROR, L"[KaleoAppManager] QueryFullProcessImageName(0x%08X) returns %ld",
         static_cast<unsigned>(reinterpret_cast<UINT_PTR>(process.Get())), error);
    KLOG(LOG_ERROR, L"[AppManager] GetProcessFileName() returns %d", error);
    return false;
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

void CAppManager::AnnounceAppsChanged()
{
    ++m_appsChanges;
    PulseNamedEvent(APPS_CHANGED_EVENT);
}

std::wstring CAppManager::RegisteredName(DWORD processId) const
{
    CRecursiveLock::CScopedLock guard(m_stateLock);
    const auto it = m_registeredApps.find(processId);
    return it == m_registeredApps.end() ? std::wstring() : it->second.strFileName;
}

void CAppManager::StartMonitor(DWORD processId, CHandle process, const std::wstring& fileName)
{
    try
    {
        // std::function needs a copyable task: the handle travels shared.
        auto watched = std::make_shared<CHandle>(std::move(process));
        if (m_tasks.Run([this, processId, watched, fileName] {
                DoMonitorProcess(processId, std::move(*watched), fileName);
            }))
            return;
    }
    catch (const std::exception&)
    {
    }
    KLOG(LOG_ERROR, L"[AppManager] Cannot start the monitor of pid %d", processId);
}

// The steps both forms share once the record is written: the priority
// list, the row, the active app, the notifications, the monitor and the map
// entry. Called with the state lock held.
BOOL CAppManager::CompleteRegistration(DWORD processId, CHandle process, const std::wstring& fullPath)
{
    const std::wstring fileName = FileNamePart(fullPath);
    AddToPriorityList(fileName);
    InsertAppRow(processId, fileName);
    SelectActiveApp(processId, fileName);
    PulseNamedEvent(REGISTRATIONS_CHANGED_EVENT);
    AnnounceAppsChanged();
    StartMonitor(processId, std::move(process), fileName);
    m_registeredApps[processId] = CAppEntry{processId, fileName};
    return TRUE;
}

BOOL CAppManager::Register(DWORD processId)
{
    KLOG(LOG_INFO, L"[AppManager] Register app with pid = %d", processId);
    BOOL result = FALSE;
    CHandle process = OpenRegisteringProcess(processId);
    std::wstring fullPath;
    if (process && ReadRegisteringPath(process, fullPath))
    {
        // The information file is read before the lock: the channels and
        // the monitors need not wait for a file of up to a megabyte.
        const CLoadedAppInfo info = ReadAppInfoContent(fullPath);
        CRecursiveLock::CScopedLock guard(m_stateLock);
        StoreAppInfo(processId, fullPath, info);
        result = CompleteRegistration(processId, std::move(process), fullPath);
    }
    CRecursiveLock::CScopedLock guard(m_stateLock);
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
    BOOL result = FALSE;
    CHandle process = OpenRegisteringProcess(processId);
    if (process)
    {
        KLOG(LOG_INFO,
             L"[AppManager] Register app=PID(%ld) | title=%s | desc=%s | author=%s | contact=%s | devices=0x%08X | "
             L"cat=%d",
             processId, FieldText(block.szTitle, kTitleChars).c_str(),
             FieldText(block.szDescription, kDescriptionChars).c_str(),
             FieldText(block.szAuthor, kAuthorChars).c_str(), FieldText(block.szContact, kContactChars).c_str(),
             block.dwDevices, block.dwCategory);
        std::wstring fullPath;
        if (ReadRegisteringPath(process, fullPath))
        {
            CRecursiveLock::CScopedLock guard(m_stateLock);
            StoreBlockInfo(block, fullPath);
            result = CompleteRegistration(processId, std::move(process), fullPath);
        }
    }
    CRecursiveLock::CScopedLock guard(m_stateLock);
    KLOG(LOG_INFO, L"[AppManager] [Register2] Number of apps running = %d", TableCount());
    return result;
}

BOOL CAppManager::Unregister(DWORD processId)
{
    KLOG(LOG_INFO, L"[AppManager] Unregistering app with pid = %d", processId);
    CRecursiveLock::CScopedLock guard(m_stateLock);
    std::wstring fileName;
    const auto it = m_registeredApps.find(processId);
    const bool registered = it != m_registeredApps.end();
    if (registered)
        fileName = it->second.strFileName;
    else
    {
        // Only a live process is unregistered without a map entry.
        CHandle process = OpenLiveProcess(processId);
        if (!process)
        {
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
    AnnounceAppsChanged();
    const int count = TableCount();
    if (count < 1)
        SetGlobalEffect(EFFECT_RELEASED, fileName);
    KLOG(LOG_INFO, L"[AppManager] [Unregister] Number of apps running = %d", count);
    if (registered)
        m_registeredApps.erase(processId);
    PulseNamedEvent(REGISTRATIONS_CHANGED_EVENT);
    return TRUE;
}
