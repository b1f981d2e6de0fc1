#pragma once
// The device record this plug-in build takes by value: KALEO_PLUGIN_HUE
// selects the smart-lighting layout, KALEO_PLUGIN_IOT the IoT one.
#include <string>

#include "DeviceInfo.h"
#include "PluginFiles.h"
#include "PluginJournalLine.h"

namespace PluginRecord
{

#if defined(KALEO_PLUGIN_HUE) && !defined(KALEO_PLUGIN_IOT)
using CRecord = Common::SmartLighting::_DEVICEINFOTYPE;
constexpr const char* PLUGIN_NAME = PluginFiles::PLUGIN_HUE;
static_assert(sizeof(CRecord) == 2616, "Init takes the 2616-byte record");
#elif defined(KALEO_PLUGIN_IOT) && !defined(KALEO_PLUGIN_HUE)
using CRecord = Common::IoT::_DEVICEINFOTYPE;
constexpr const char* PLUGIN_NAME = PluginFiles::PLUGIN_IOT;
static_assert(sizeof(CRecord) == 2624, "Init takes the 2624-byte record");
#else
#error "define exactly one of KALEO_PLUGIN_HUE and KALEO_PLUGIN_IOT"
#endif

// A text field up to its terminator, or all of it when the terminator is
// missing.
std::wstring FieldText(const wchar_t (&field)[Common::DEVICE_TEXT_CHARS]);

// What the control file names the device by: the bridge id, or the MAC
// address.
std::wstring Identifier(const CRecord& record);

// The record's own fields of an Init line, after "module=".
void AddRecordFields(const CRecord& record, PluginJournal::CJournalLine& line);

} // namespace PluginRecord
