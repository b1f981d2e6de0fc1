// kaleoctl status, apps section: the shared app table, the Apps records and
// the priority list, judged as "kaleoctl apps" judges them.
#include <windows.h>

#include "AppData.h"
#include "AppsView.h"
#include "Console.h"
#include "Handles.h"
#include "PriorityList.h"
#include "Registry.h"
#include "Status.h"

using AppsView::CTableSnapshot;
using AppsView::CVerdict;

namespace Status
{
namespace
{

std::wstring OwnerText(const CTableSnapshot& table)
{
    if (table.Active() == 0)
        return L"none owns the lighting";
    const AppClient::CTableRow* row = table.FindPid(table.Active());
    return Console::Format(L"%s (pid %lu) owns the lighting",
                           row ? Printable(row->name, 64).c_str() : L"(not listed)", table.Active());
}

void AddRows(const CTableSnapshot& table, CSection& section)
{
    for (size_t i = 0; i < table.table.rows.size(); ++i)
    {
        if (i == kMaxListed)
        {
            section.Add(Console::Format(L"... and %u more row(s)", static_cast<unsigned>(table.table.rows.size() - i)));
            break;
        }
        const AppClient::CTableRow& row = table.table.rows[i];
        section.Add(Console::Format(L"row %d: pid %lu  %s", row.index, row.dwProcessId, Printable(row.name, 64).c_str()));
    }
}

void AddPriorityList(HKEY apps, const CTableSnapshot& table, CSection& section)
{
    std::wstring list;
    if (PriorityList::ReadListValue(apps, list) != ERROR_SUCCESS)
    {
        section.Add(L"priority list: none");
        return;
    }
    std::vector<CVerdict> verdicts;
    for (const std::wstring& entry : PriorityList::SplitList(list))
        verdicts.push_back(AppsView::Judge(entry, table));
    const CVerdict* winner = AppsView::Winner(verdicts);
    section.Add(Console::Format(L"priority list: \"%s\"; selects %s", Printable(list).c_str(),
                                winner ? Printable(winner->strEntry, 64).c_str() : L"no entry"));
}

} // namespace

CSection AppsSection()
{
    CSection section;
    Common::CRegKey apps;
    const LONG rc =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Common::KALEO_APPS_KEY, 0, Common::KALEO_READ_ACCESS, apps.Put());
    CTableSnapshot table;
    table.Take();
    if (!table.bPresent)
    {
        section.verdict = L"Apps: no shared app table (the app manager is not running)";
        section.healthy = false;
    }
    else
    {
        section.verdict = Console::Format(L"Apps: %u registered, %s", static_cast<unsigned>(table.table.rows.size()),
                                          OwnerText(table).c_str());
        if (!table.table.countInRange)
            section.Fault(Console::Format(L"the table's count is %ld, outside 0..%d", static_cast<long>(table.table.rawCount),
                                          Common::APP_TABLE_MAX_ROWS));
        AddRows(table, section);
    }
    if (rc != ERROR_SUCCESS)
    {
        section.Fault(Console::Format(L"HKLM\\%s cannot be opened (%ld): run 'kaleoctl install'", Common::KALEO_APPS_KEY, rc));
        return section;
    }
    section.Add(Console::Format(L"app records: %u", static_cast<unsigned>(AppsView::RecordNames(apps.Get()).size())));
    DWORD globalEnable = 0;
    if (Common::ReadDwordValue(apps.Get(), PriorityList::ENABLE_VALUE, globalEnable) != ERROR_SUCCESS ||
        globalEnable != 1)
        section.Fault(L"the global Enable is not 1: the lighting is released whichever app is active");
    AddPriorityList(apps.Get(), table, section);
    return section;
}

} // namespace Status
