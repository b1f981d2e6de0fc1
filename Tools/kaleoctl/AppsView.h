#pragma once
// The apps as the module judges them: the shared table with the lookups the
// verdicts need, and each priority-list entry probed the way the module
// probes it. Shared by "kaleoctl apps" and "kaleoctl status".
#include <windows.h>
#include <string>
#include <vector>

#include "AppClient.h"
#include "PriorityList.h"

namespace AppsView
{

// The shared table as "kaleoctl table" reads it.
struct CTableSnapshot
{
    bool bPresent = false;
    AppClient::CTableSnapshot table;

    void Take() { bPresent = AppClient::ReadTable(table) == ERROR_SUCCESS; }
    DWORD Active() const { return table.dwActiveProcessId; }
    // First row (newest first) of the name, compared without case.
    const AppClient::CTableRow* FindName(const std::wstring& name) const;
    const AppClient::CTableRow* FindPid(DWORD processId) const;
};

// One entry of the priority list, judged as the module judges it.
struct CVerdict
{
    std::wstring strEntry;
    bool bProbeable = false;
    bool bEnabled = false;
    DWORD dwEnableStatus = 0;
    DWORD dwEnable = 0;
    PriorityList::CMarkerProbe marker;
    DWORD dwRowPid = 0;
    bool bRegistered = false;
    bool Qualifies() const { return bProbeable && bEnabled && marker.Held() && bRegistered; }
};

CVerdict Judge(const std::wstring& entry, const CTableSnapshot& table);
std::wstring DescribeVerdict(const CVerdict& verdict);
// The first entry that qualifies; null when none does.
const CVerdict* Winner(const std::vector<CVerdict>& verdicts);

// The subkey names of the Apps key: one record per app.
std::vector<std::wstring> RecordNames(HKEY apps);

} // namespace AppsView
