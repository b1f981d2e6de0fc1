// The apps as the module judges them; see AppsView.h.
#include "AppsView.h"

#include "Console.h"
#include "Registry.h"
#include "TextCodec.h"

using namespace Common;

namespace AppsView
{

const AppClient::CTableRow* CTableSnapshot::FindName(const std::wstring& name) const
{
    for (const AppClient::CTableRow& row : table.rows)
    {
        if (row.dwProcessId != 0 && EqualsNoCase(row.name, name))
            return &row;
    }
    return nullptr;
}

const AppClient::CTableRow* CTableSnapshot::FindPid(DWORD processId) const
{
    for (const AppClient::CTableRow& row : table.rows)
    {
        if (row.dwProcessId == processId)
            return &row;
    }
    return nullptr;
}

std::vector<std::wstring> RecordNames(HKEY apps)
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index)
    {
        wchar_t name[REG_KEY_NAME_MAX_CHARS + 1];
        DWORD length = REG_KEY_NAME_MAX_CHARS + 1;
        const LONG rc = ::RegEnumKeyExW(apps, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc == ERROR_SUCCESS && length <= REG_KEY_NAME_MAX_CHARS)
            names.emplace_back(name, length);
    }
    return names;
}

CVerdict Judge(const std::wstring& entry, const CTableSnapshot& table)
{
    CVerdict verdict;
    verdict.strEntry = entry;
    verdict.bProbeable = PriorityList::IsProbeableEntry(entry);
    if (!verdict.bProbeable)
        return verdict;
    verdict.dwEnableStatus = PriorityList::ReadAppEnable(entry, verdict.dwEnable, KALEO_READ_ACCESS);
    verdict.bEnabled = verdict.dwEnableStatus == ERROR_SUCCESS && verdict.dwEnable == 1;
    verdict.marker = PriorityList::LookAtMarker(entry);
    if (const AppClient::CTableRow* row = table.FindName(entry))
    {
        verdict.bRegistered = true;
        verdict.dwRowPid = row->dwProcessId;
    }
    return verdict;
}

const CVerdict* Winner(const std::vector<CVerdict>& verdicts)
{
    for (const CVerdict& verdict : verdicts)
    {
        if (verdict.Qualifies())
            return &verdict;
    }
    return nullptr;
}

std::wstring DescribeVerdict(const CVerdict& verdict)
{
    if (!verdict.bProbeable)
        return L"not a usable app name: never probed";
    std::wstring text;
    if (verdict.bEnabled)
        text = L"enabled";
    else if (verdict.dwEnableStatus == ERROR_SUCCESS)
        text = Console::Format(L"not enabled (Enable = %lu)", verdict.dwEnable);
    else if (verdict.dwEnableStatus == ERROR_FILE_NOT_FOUND)
        text = L"not enabled (no record or no Enable value)";
    else
        text = Console::Format(L"not enabled (Enable unreadable, %lu)", verdict.dwEnableStatus);

    const std::wstring marker = PriorityList::MarkerName(verdict.strEntry);
    if (verdict.marker.Held())
        text += L", marker " + marker + L" held";
    else if (verdict.marker.bHandle)
        text += L", marker " + marker + L" not held (app not running)";
    else
        text += Console::Format(L", marker %s not accessible (error %lu)", marker.c_str(), verdict.marker.dwError);

    if (verdict.bRegistered)
        text += Console::Format(L", registered (pid %lu)", verdict.dwRowPid);
    else
        text += L", not registered (no row in the shared table)";
    return text;
}

} // namespace AppsView
