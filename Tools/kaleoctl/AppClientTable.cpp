// A bounded copy of the shared app table, read through a read-only view.
#include "AppClient.h"

#include <cwchar>
#include <memory>

#include "SharedSection.h"

using namespace Common;

namespace AppClient
{
namespace
{
constexpr size_t kNameChars = sizeof(CAppData::_APPDATATYPE::szName) / sizeof(wchar_t);
} // namespace

DWORD ReadTable(CTableSnapshot& out)
{
    out = CTableSnapshot();
    CSharedSection section;
    const DWORD opened = section.Open(APP_TABLE_NAME, APP_TABLE_SIZE, FILE_MAP_READ);
    if (opened != ERROR_SUCCESS)
        return opened;

    // One copy first: the module moves rows while we read, and every check
    // below must see the values it then uses.
    auto table = std::make_unique<CAppData::_APPTABLE>();
    ::CopyMemory(table.get(), section.View(), APP_TABLE_SIZE);

    out.rawCount = table->nCount;
    out.countInRange = out.rawCount >= 0 && out.rawCount <= APP_TABLE_MAX_ROWS;
    const int count = out.rawCount < 0 ? 0 : (out.rawCount > APP_TABLE_MAX_ROWS ? APP_TABLE_MAX_ROWS : out.rawCount);
    out.dwActiveProcessId = table->rows[0].dwProcessId;
    out.rows.reserve(static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i)
    {
        const CAppData::_APPDATATYPE& row = table->rows[i];
        CTableRow entry;
        entry.index = i;
        entry.dwProcessId = row.dwProcessId;
        entry.name.assign(row.szName, ::wcsnlen(row.szName, kNameChars));
        out.rows.push_back(std::move(entry));
    }
    return ERROR_SUCCESS;
}

int CountRows(const CTableSnapshot& table, DWORD processId)
{
    int count = 0;
    for (const CTableRow& row : table.rows)
        count += row.dwProcessId == processId ? 1 : 0;
    return count;
}

} // namespace AppClient
