// kaleoctl table: prints the shared app table as any SDK process sees it.
#include <windows.h>

#include "AppClient.h"
#include "Commands.h"
#include "Console.h"

using namespace Common;

namespace
{
constexpr DWORD kDefaultIntervalMs = 250;

bool SameTable(const AppClient::CTableSnapshot& a, const AppClient::CTableSnapshot& b)
{
    if (a.rawCount != b.rawCount || a.dwActiveProcessId != b.dwActiveProcessId || a.rows.size() != b.rows.size())
        return false;
    for (size_t i = 0; i < a.rows.size(); ++i)
    {
        if (a.rows[i].dwProcessId != b.rows[i].dwProcessId || a.rows[i].name != b.rows[i].name)
            return false;
    }
    return true;
}

void PrintTable(const AppClient::CTableSnapshot& table)
{
    std::wstring text;
    if (!table.countInRange)
        text += Console::Format(L"warning: the table's count is %ld, outside 0..%d; showing %u row(s)\n",
                                static_cast<long>(table.rawCount), APP_TABLE_MAX_ROWS,
                                static_cast<unsigned>(table.rows.size()));
    text += Console::Format(L"app table: %u app(s), active pid %lu\n", static_cast<unsigned>(table.rows.size()),
                            table.dwActiveProcessId);
    for (const AppClient::CTableRow& row : table.rows)
        text += Console::Format(L"  row %d: pid %lu  %s\n", row.index, row.dwProcessId, row.name.c_str());
    Console::Out(text);  // one write: a reader never sees half a table
}

void PrintMissing(DWORD rc)
{
    Console::Print(L"app table: not found (%lu); is the app manager running?\n", rc);
}

int Watch(DWORD intervalMs)
{
    AppClient::CTableSnapshot shown;
    DWORD shownRc = ~0u;
    // A watcher is an outside reader like the SDK's other processes: while
    // it holds the section, the table outlives a restart of the module.
    CHandle holder;
    for (;;)
    {
        if (!holder)
            holder.Reset(::OpenFileMappingW(FILE_MAP_READ, FALSE, APP_TABLE_NAME));
        AppClient::CTableSnapshot now;
        const DWORD rc = AppClient::ReadTable(now);
        if (rc != shownRc || (rc == ERROR_SUCCESS && !SameTable(now, shown)))
        {
            if (shownRc != ~0u)
                Console::Out(L"--\n");
            if (rc == ERROR_SUCCESS)
                PrintTable(now);
            else
                PrintMissing(rc);
            shown = std::move(now);
            shownRc = rc;
        }
        // Woken by a change as well; the event may not exist (yet).
        CHandle changed(::OpenEventW(SYNCHRONIZE, FALSE, APPS_CHANGED_EVENT));
        if (changed)
            ::WaitForSingleObject(changed.Get(), intervalMs);
        else
            ::Sleep(intervalMs);
    }
}
} // namespace

int CmdTable(const CArgs& argsIn)
{
    CArgs args = argsIn;
    const bool watch = TakeFlag(args, L"--watch");
    std::wstring intervalText;
    DWORD intervalMs = kDefaultIntervalMs;
    if (TakeOption(args, L"--interval", intervalText))
    {
        unsigned long value = 0;
        if (!ParseNumber(intervalText, value, 1, 60000))
        {
            Console::Err(L"table: --interval takes 1 to 60000 ms\n");
            return 2;
        }
        intervalMs = static_cast<DWORD>(value);
    }
    if (!args.empty())
    {
        Console::Err(L"usage: kaleoctl table [--watch [--interval MS]]\n");
        return 2;
    }
    if (watch)
        return Watch(intervalMs);

    AppClient::CTableSnapshot table;
    const DWORD rc = AppClient::ReadTable(table);
    if (rc != ERROR_SUCCESS)
    {
        PrintMissing(rc);
        return 1;
    }
    PrintTable(table);
    return 0;
}
