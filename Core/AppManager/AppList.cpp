// The shared app table: attaching, bounded reads, adding and removing rows,
// and revalidating the rows an earlier run left behind.
#include "AppManager.h"

#include <cstring>
#include <vector>

#include "LogWriter.h"
#include "NamedEvents.h"
#include "ProcessName.h"

using namespace Common;

namespace
{
using CRow = CAppData::_APPDATATYPE;
constexpr size_t kNameChars = sizeof(CRow::szName) / sizeof(wchar_t);
} // namespace

CAppData::_APPTABLE* CAppManager::AttachedTable()
{
    if (!m_pAppData)
        return nullptr;
    // A table that could not be attached at start (its name held by a
    // section of the wrong size, say) is attached, or made, as soon as that
    // is possible again.
    if (!m_pAppData->IsMapped() && !m_pAppData->Open())
        m_pAppData->Create();
    return m_pAppData->Table();
}

int CAppManager::TableCount()
{
    CAppData::_APPTABLE* table = AttachedTable();
    if (!table)
        return 0;
    const int32_t count = table->nCount;
    if (count >= 0 && count <= APP_TABLE_MAX_ROWS)
        return count;
    // Another process wrote a count the table cannot hold. Rows are kept
    // packed from row 1 (a removal moves the later ones up), so the rows in
    // use are the leading ones with a process: the count is taken from them,
    // and the next write neither overwrites a registered app's row nor
    // finds a full table of empty ones.
    int32_t repaired = 0;
    while (repaired < APP_TABLE_MAX_ROWS && table->rows[repaired + 1].dwProcessId != 0)
        ++repaired;
    KLOG(LOG_ERROR, L"[AppData] Invalid app count %d repaired to %d", count, repaired);
    table->nCount = repaired;
    return repaired;
}

DWORD CAppManager::ActiveProcessId()
{
    CAppData::_APPTABLE* table = AttachedTable();
    return table ? table->rows[0].dwProcessId : 0;
}

void CAppManager::SetActiveProcessId(DWORD processId)
{
    if (CAppData::_APPTABLE* table = AttachedTable())
        table->rows[0].dwProcessId = processId;
}

void CAppManager::UpdateAppList(std::wstring, DWORD processId, BOOL add)
{
    CRecursiveLock::CScopedLock guard(m_stateLock);
    CAppData::_APPTABLE* table = AttachedTable();
    if (!table)
        return;
    const int count = TableCount();

    if (!add)
    {
        for (int i = 1; i <= count; ++i)
        {
            if (table->rows[i].dwProcessId != processId)
                continue;
            std::memmove(&table->rows[i], &table->rows[i + 1], sizeof(CRow) * static_cast<size_t>(count - i));
            std::memset(&table->rows[count], 0, sizeof(CRow));
            table->nCount = count - 1;
            return;
        }
        return;
    }

    if (count >= APP_TABLE_MAX_ROWS)
        return;
    // The name comes from the process itself. One that has gone meanwhile
    // gets no row, so count always matches the rows moved in.
    CHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    std::wstring path;
    if (!process || !QueryProcessImage(process.Get(), path))
    {
        KLOG(LOG_ERROR, L"[AppData] Process %u gone before its row was added (%d)", processId, ::GetLastError());
        return;
    }
    InsertAppRow(processId, FileNamePart(path));
}

// Adds the row of a process whose name the caller read from the process
// (registration reads it through the handle it keeps for the monitor).
void CAppManager::InsertAppRow(DWORD processId, const std::wstring& fileName)
{
    CRecursiveLock::CScopedLock guard(m_stateLock);
    CAppData::_APPTABLE* table = AttachedTable();
    if (!table)
        return;
    const int count = TableCount();
    if (count >= APP_TABLE_MAX_ROWS)
        return;
    std::memmove(&table->rows[2], &table->rows[1], sizeof(CRow) * static_cast<size_t>(count));
    table->rows[1].dwProcessId = processId;
    table->rows[1].dwReserved = 0;
    CopyToField(table->rows[1].szName, kNameChars, fileName);
    table->nCount = count + 1;
}

void CAppManager::ValidateAppsList()
{
    // A live row's process is opened once: that handle is the one its
    // monitor waits on, so a process id reused later is never watched.
    struct CLiveRow
    {
        CRow row;
        CHandle process;
    };
    std::vector<CLiveRow> live;
    std::vector<CRow> dead;
    {
        CRecursiveLock::CScopedLock guard(m_stateLock);
        const int count = TableCount();
        KLOG(LOG_DEBUG, L"[CAppManager] running apps = %d", count);
        CAppData::_APPTABLE* table = AttachedTable();
        for (int i = 1; table && i <= count; ++i)
        {
            CRow row = table->rows[i];
            row.szName[kNameChars - 1] = L'\0';
            CHandle process = OpenLiveProcess(row.dwProcessId);
            if (process)
                live.push_back(CLiveRow{row, std::move(process)});
            else
                dead.push_back(row);
        }

        for (const CRow& row : dead)
        {
            KLOG(LOG_DEBUG, L"[CAppManager] %s (pid=%d) not running anymore", row.szName, row.dwProcessId);
            UpdateAppList(std::wstring(), row.dwProcessId, FALSE);
        }
        for (const CLiveRow& entry : live)
        {
            KLOG(LOG_DEBUG, L"[CAppManager] %s (pid=%d) still running", entry.row.szName, entry.row.dwProcessId);
            m_registeredApps[entry.row.dwProcessId] = CAppEntry{entry.row.dwProcessId, entry.row.szName};
        }
    }
    for (CLiveRow& entry : live)
    {
        // The monitor names the app by its image, as a registration does;
        // the row's name is another process's word for it.
        std::wstring path;
        const std::wstring fileName =
            QueryProcessImage(entry.process.Get(), path) ? FileNamePart(path) : std::wstring(entry.row.szName);
        StartMonitor(entry.row.dwProcessId, std::move(entry.process), fileName);
    }
    if (!live.empty())
        AnnounceAppsChanged();
}
