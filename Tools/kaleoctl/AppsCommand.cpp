// kaleoctl apps: the apps' registry records, the priority list, the global
// switch, the active app of the shared table, and which app owns the
// lighting and why, probed the way the module probes.
#include <windows.h>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "AppClient.h"
#include "AppData.h"
#include "AppRecord.h"
#include "AppsView.h"
#include "Commands.h"
#include "Console.h"
#include "Handles.h"
#include "PriorityList.h"
#include "Registry.h"
#include "TextCodec.h"

using namespace Common;
using AppsView::CTableSnapshot;
using AppsView::CVerdict;

namespace
{

// Record texts are shown up to this size; larger values are reported.
constexpr DWORD kMaxTextBytes = 64 * 1024;

// One value of a record, as printed.
std::wstring DescribeText(HKEY key, const wchar_t* name)
{
    std::wstring text;
    CRegValueInfo info;
    const DWORD rc = ReadBoundedString(key, name, kMaxTextBytes, text, &info);
    if (rc == ERROR_FILE_NOT_FOUND)
        return L"(missing)";
    if (rc == ERROR_INVALID_DATA)
        return Console::Format(L"(not a string: type %lu)", info.dwType);
    if (rc == ERROR_MORE_DATA && info.dwBytes > kMaxTextBytes)
        return Console::Format(L"(%lu bytes, too large to show)", info.dwBytes);
    if (rc == ERROR_MORE_DATA)
        return L"(changed while read)";
    if (rc != ERROR_SUCCESS)
        return Console::Format(L"(unreadable, %ld)", static_cast<long>(rc));
    return L"\"" + text + L"\"";
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD& value)
{
    return ReadDwordValue(key, name, value) == ERROR_SUCCESS;
}

std::wstring DescribeDevices(DWORD devices)
{
    std::wstring names;
    DWORD known = 0;
    for (const AppInfo::CDeviceClass& deviceClass : AppInfo::DEVICE_CLASSES)
    {
        known |= deviceClass.dwBit;
        if (!(devices & deviceClass.dwBit))
            continue;
        if (!names.empty())
            names += L", ";
        names += deviceClass.pszName;
    }
    if (devices & ~known)
    {
        if (!names.empty())
            names += L", ";
        names += Console::Format(L"unknown bits 0x%lX", devices & ~known);
    }
    return Console::Format(L"0x%08lX (%s)", devices, names.empty() ? L"none" : names.c_str());
}

std::wstring DescribeCategory(DWORD category)
{
    const wchar_t* name = category == AppInfo::CATEGORY_GAME          ? L"game"
                          : category == AppInfo::CATEGORY_APPLICATION ? L"application"
                                                                      : L"unknown";
    return Console::Format(L"%lu (%s)", category, name);
}

void PrintRecord(HKEY apps, const std::wstring& name)
{
    Console::Print(L"  [%s]\n", name.c_str());
    CRegKey key;
    const LONG rc = ::RegOpenKeyExW(apps, name.c_str(), 0, KALEO_READ_ACCESS, key.Put());
    if (rc != ERROR_SUCCESS)
    {
        Console::Print(L"    (cannot be opened, %ld)\n", rc);
        return;
    }
    DWORD value = 0;
    Console::Print(L"    Enable           = %s\n",
                   ReadDword(key.Get(), L"Enable", value) ? Console::Format(L"%lu", value).c_str() : L"(missing)");
    static const wchar_t* const kTexts[] = {L"Path", L"Title", L"Description", L"Author", L"Contact"};
    for (const wchar_t* text : kTexts)
        Console::Print(L"    %-16s = %s\n", text, DescribeText(key.Get(), text).c_str());
    Console::Print(L"    DevicesSupported = %s\n",
                   ReadDword(key.Get(), L"DevicesSupported", value) ? DescribeDevices(value).c_str() : L"(missing)");
    Console::Print(L"    Category         = %s\n",
                   ReadDword(key.Get(), L"Category", value) ? DescribeCategory(value).c_str() : L"(missing)");
}

void PrintOwner(const std::vector<CVerdict>& verdicts, const CTableSnapshot& table, bool globalEnabled)
{
    const CVerdict* winner = AppsView::Winner(verdicts);

    if (!table.bPresent)
        Console::Print(L"Owner: none: the shared table does not exist (the app manager is not running).\n");
    else if (table.Active() == 0)
        Console::Print(L"Owner: none (row 0 is 0)%s\n",
                       winner ? L"." : L": no entry of the priority list is enabled, holds its marker and is registered.");
    else
    {
        const AppClient::CTableRow* row = table.FindPid(table.Active());
        const std::wstring name = row ? row->name : std::wstring(L"(not listed)");
        if (winner && winner->dwRowPid == table.Active())
            Console::Print(L"Owner: %s (pid %lu) owns the lighting: it is the first entry of the priority list that "
                           L"is enabled, holds its marker and is registered.\n",
                           name.c_str(), table.Active());
        else
            Console::Print(L"Owner: %s (pid %lu) owns the lighting (row 0).\n", name.c_str(), table.Active());
    }

    if (table.bPresent && winner && winner->dwRowPid != table.Active())
        Console::Print(L"Note: the priority list now selects %s (pid %lu); row 0 changes at the next registration "
                       L"or exit.\n",
                       winner->strEntry.c_str(), winner->dwRowPid);
    else if (table.bPresent && !winner && table.Active() != 0)
        Console::Print(L"Note: no entry qualifies now; row 0 changes at the next registration or exit.\n");
    if (!globalEnabled)
        Console::Print(L"Note: the global Enable is not 1: the lighting is released whichever app is active.\n");
}

} // namespace

int CmdApps(const CArgs&)
{
    CRegKey apps;
    const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_APPS_KEY, 0, KALEO_READ_ACCESS, apps.Put());
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"apps: HKLM\\%s cannot be opened (%ld)\n", KALEO_APPS_KEY, rc);
        return 1;
    }

    Console::Print(L"HKLM\\%s (32-bit view)\n", KALEO_APPS_KEY);
    DWORD globalEnable = 0;
    const bool hasGlobal = ReadDword(apps.Get(), PriorityList::ENABLE_VALUE, globalEnable);
    Console::Print(L"  Enable (global) = %s\n",
                   hasGlobal ? Console::Format(L"%lu", globalEnable).c_str() : L"(missing)");
    std::wstring list;
    const DWORD listStatus = PriorityList::ReadListValue(apps.Get(), list);
    if (listStatus == ERROR_SUCCESS)
        Console::Print(L"  PriorityList    = \"%s\"\n", list.c_str());
    else if (listStatus == ERROR_FILE_NOT_FOUND)
        Console::Print(L"  PriorityList    = (missing)\n");
    else
        Console::Print(L"  PriorityList    = (unusable, %lu)\n", listStatus);

    const std::vector<std::wstring> names = AppsView::RecordNames(apps.Get());
    Console::Print(L"\nApp records (%u):\n", static_cast<unsigned>(names.size()));
    for (const std::wstring& name : names)
        PrintRecord(apps.Get(), name);

    CTableSnapshot table;
    table.Take();
    Console::Print(L"\n");
    if (!table.bPresent)
        Console::Print(L"Shared table: not present\n");
    else
    {
        const AppClient::CTableRow* active = table.FindPid(table.Active());
        Console::Print(L"Shared table: %d app(s) listed; active app (row 0) = pid %lu%s%s%s\n",
                       static_cast<int>(table.table.rows.size()), table.Active(), active ? L" (" : L"",
                       active ? active->name.c_str() : L"", active ? L")" : L"");
    }

    std::vector<CVerdict> verdicts;
    for (const std::wstring& entry : PriorityList::SplitList(list))
        verdicts.push_back(AppsView::Judge(entry, table));
    Console::Print(L"\nPriority list (%u entries):\n", static_cast<unsigned>(verdicts.size()));
    bool decided = false;
    for (size_t i = 0; i < verdicts.size(); ++i)
    {
        const CVerdict& verdict = verdicts[i];
        const wchar_t* outcome = L"skipped";
        if (decided)
            outcome = L"not considered";
        else if (verdict.Qualifies())
        {
            outcome = L"selected";
            decided = true;
        }
        Console::Print(L"  %u. %s: %s -> %s\n", static_cast<unsigned>(i + 1), verdict.strEntry.c_str(),
                       AppsView::DescribeVerdict(verdict).c_str(), outcome);
    }
    Console::Print(L"\n");
    PrintOwner(verdicts, table, hasGlobal && globalEnable == 1);
    return 0;
}
