#include "PluginRecord.h"

#include <cwchar>
#include <cstdio>

namespace PluginRecord
{

std::wstring FieldText(const wchar_t (&field)[Common::DEVICE_TEXT_CHARS])
{
    return std::wstring(field, ::wcsnlen(field, Common::DEVICE_TEXT_CHARS));
}

#if defined(KALEO_PLUGIN_HUE)

std::wstring Identifier(const CRecord& record)
{
    return FieldText(record.szId);
}

void AddRecordFields(const CRecord& record, PluginJournal::CJournalLine& line)
{
    line.Add("id", FieldText(record.szId));
    line.Add("name", FieldText(record.szName));
    line.Add("ip", FieldText(record.szIpAddress));
    line.Add("group", FieldText(record.szGroupInfo));
    line.Add("eid", static_cast<int64_t>(record.eid));
}

#else

std::wstring Identifier(const CRecord& record)
{
    return FieldText(record.szMacAddress);
}

void AddRecordFields(const CRecord& record, PluginJournal::CJournalLine& line)
{
    line.Add("name", FieldText(record.szDeviceName));
    line.Add("mac", FieldText(record.szMacAddress));
    line.Add("ip", FieldText(record.szIpAddress));
    line.Add("serial", FieldText(record.szSerialNumber));
    line.Add("eid", static_cast<int64_t>(record.eid));
    char handle[24] = {};
    std::snprintf(handle, sizeof(handle), "%08llX", static_cast<unsigned long long>(record.handle));
    line.Add("handle", std::string(handle));
}

#endif

} // namespace PluginRecord
