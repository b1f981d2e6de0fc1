// The priority list and the active app: new apps go to the front of the
// list, and the first listed app that runs, is enabled and is registered
// owns the lighting (row 0 of the shared table).
#include "AppManager.h"

#include <cwchar>
#include <exception>

#include "LogWriter.h"
#include "PriorityList.h"
#include "ProcessName.h"
#include "Registry.h"
#include "TextCodec.h"

using namespace Common;
using namespace PriorityList;

namespace
{

using CRow = CAppData::_APPDATATYPE;
constexpr size_t kRowNameChars = sizeof(CRow::szName) / sizeof(wchar_t);

DWORD OpenAppsKey(CRegKey& key)
{
    return static_cast<DWORD>(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_APPS_KEY, 0, KALEO_ALL_ACCESS, key.Put()));
}

// One list entry, probed.
struct CEntryResult
{
    CMarkerProbe marker;
    bool bEnabled = false;
    bool bWins = false;       // qualifies and has a row
    DWORD dwProcessId = 0;    // of that row
    std::wstring strRowName;  // of that row
};

// The first listed row (newest first) of the entry, compared without case.
// Rows are copied out at once: other processes may move them meanwhile.
bool FindListedRow(const CAppData::_APPTABLE* table, int count, const std::wstring& entry, CEntryResult& result)
{
    for (int i = 1; table && i <= count; ++i)
    {
        const CRow& row = table->rows[i];
        const DWORD processId = row.dwProcessId;
        wchar_t name[kRowNameChars];
        std::wmemcpy(name, row.szName, kRowNameChars);
        const size_t length = ::wcsnlen(name, kRowNameChars);
        // A row without a process is no app that could own the lighting.
        if (processId == 0 || length == 0)
            continue;
        if (EqualsNoCase(std::wstring_view(name, length), entry))
        {
            result.dwProcessId = processId;
            result.strRowName.assign(name, length);
            return true;
        }
    }
    return false;
}

CEntryResult ProbeEntry(const std::wstring& entry, const CAppData::_APPTABLE* table, int count)
{
    CEntryResult result;
    DWORD enable = 0;
    result.bEnabled = ReadAppEnable(entry, enable) == ERROR_SUCCESS && enable == 1;
    result.marker = ProbeMarker(entry);
    if (result.bEnabled && result.marker.Held())
        result.bWins = FindListedRow(table, count, entry, result);
    KLOG(LOG_DEBUG, L"[AppManager] Priority entry %s: enabled=%d marker=%d (%d) row pid=%d", entry.c_str(),
         result.bEnabled ? 1 : 0, result.marker.Held() ? 1 : 0, result.marker.dwError, result.dwProcessId);
    return result;
}

} // namespace

void CAppManager::AddToPriorityList(std::wstring fileName)
{
    try
    {
        if (fileName.empty())
            return;
        // A name with the separator in it would enter the list as two
        // entries of other apps.
        if (fileName.find(LIST_SEPARATOR) != std::wstring::npos || fileName.find(L'\0') != std::wstring::npos)
        {
            KLOG(LOG_ERROR, L"[AppManager] %s cannot be put in the priority list", fileName.c_str());
            return;
        }
        CRecursiveLock::CScopedLock guard(m_stateLock);
        CRegKey apps;
        if (OpenAppsKey(apps) != ERROR_SUCCESS)
            return;

        DWORD bytes = 0;
        if (::RegQueryValueExW(apps.Get(), PRIORITY_LIST_VALUE, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
            return;

        std::wstring list;
        if (bytes != 0)
        {
            const DWORD rc = ReadListValue(apps.Get(), list);
            if (rc != ERROR_SUCCESS)
            {
                // Never overwrite a list we could not read: the user's order
                // would be lost.
                KLOG(LOG_ERROR, L"[AppManager] PriorityList cannot be read (%d)", rc);
                return;
            }
            // Plain substring test: an entry containing the name counts.
            if (list.find(fileName) != std::wstring::npos)
                return;
        }

        const std::wstring updated = list.empty() ? fileName : fileName + LIST_SEPARATOR + list;
        const DWORD rc = WriteListValue(apps.Get(), updated);
        if (rc != ERROR_SUCCESS)
            KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
        else
            KLOG(LOG_INFO, L"[AppManager] %s added to the priority list", fileName.c_str());
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[AppManager] AddToPriorityList failed: out of memory");
    }
}

void CAppManager::UpdateActiveApp(DWORD processId)
{
    try
    {
        CRecursiveLock::CScopedLock guard(m_stateLock);
        if (processId == 0)
        {
            CRegKey apps;
            if (OpenAppsKey(apps) != ERROR_SUCCESS)
                return;
            // Row 0 is written once, with the result: other processes read
            // it at any time and must not see a passing 0 while a winner
            // is being chosen.
            const DWORD oldActive = ActiveProcessId();
            std::wstring list;
            if (ReadListValue(apps.Get(), list) != ERROR_SUCCESS)
            {
                SetActiveProcessId(0);
                return;
            }
            for (const std::wstring& entry : SplitList(list))
            {
                if (!IsProbeableEntry(entry))
                    continue;
                const CEntryResult result = ProbeEntry(entry, AttachedTable(), TableCount());
                if (!result.bWins)
                    continue;
                SetActiveProcessId(result.dwProcessId);
                KLOG(LOG_DEBUG, L"[AppManager] Active app = %s (pid = %d)", result.strRowName.c_str(),
                     result.dwProcessId);
                if (result.dwProcessId != oldActive)
                    SetGlobalEffect(EFFECT_OWNED_B, result.strRowName);
                return;
            }
            SetActiveProcessId(0);
            KLOG(LOG_DEBUG, L"[AppManager] No active app");
            return;
        }

        wchar_t fullPath[MAX_PATH] = {};
        if (GetProcessFileName(processId, fullPath) == 0)
        {
            KLOG(LOG_ERROR, L"[AppManager] GetProcessFileName(%d) returns %d", processId, ::GetLastError());
            return;
        }
        SelectActiveApp(processId, FileNamePart(fullPath));
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[AppManager] UpdateActiveApp(%d) failed: out of memory", processId);
    }
}

// The walk for an app being registered, whose file name the caller read
// from the process.
void CAppManager::SelectActiveApp(DWORD processId, const std::wstring& fileName)
{
    try
    {
        CRecursiveLock::CScopedLock guard(m_stateLock);
        CRegKey apps;
        if (OpenAppsKey(apps) != ERROR_SUCCESS)
            return;
        std::wstring list;
        if (ReadListValue(apps.Get(), list) != ERROR_SUCCESS || fileName.empty() ||
            list.find(fileName) == std::wstring::npos)
            return;

        for (const std::wstring& entry : SplitList(list))
        {
            if (!IsProbeableEntry(entry))
                continue;
            const CEntryResult result = ProbeEntry(entry, AttachedTable(), TableCount());
            if (result.bWins)
            {
                const DWORD oldActive = ActiveProcessId();
                SetActiveProcessId(result.dwProcessId);
                KLOG(LOG_DEBUG, L"[AppManager] Active app = %s (pid = %d)", result.strRowName.c_str(),
                     result.dwProcessId);
                if (result.dwProcessId != oldActive)
                    SetGlobalEffect(EFFECT_OWNED_B, fileName);
                return;
            }
            // The marker exists but cannot be opened by us (another type or
            // another owner's security): it is taken to be this app's.
            if (!result.marker.bHandle && entry == fileName)
            {
                SetActiveProcessId(processId);
                KLOG(LOG_DEBUG, L"[AppManager] Active app = %s (pid = %d), marker not accessible (%d)",
                     fileName.c_str(), processId, result.marker.dwError);
                return;
            }
        }
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[AppManager] UpdateActiveApp(%d) failed: out of memory", processId);
    }
}
