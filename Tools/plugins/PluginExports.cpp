// The two calls a device manager makes into its copy of the plug-in: Init
// with the device record by value, and UnInit before the copy is unloaded.
// Each copy serves one device and keeps nothing running between the calls
// (no thread, no open handle), so it can be unloaded as soon as UnInit
// returns. Each call appends one line to the journal; Init answers what
// the control file says for the device.
#include <windows.h>
#include <string>
#include <vector>

#include "BoundedFile.h"
#include "PluginControl.h"
#include "PluginFiles.h"
#include "PluginJournalLine.h"
#include "PluginJournalWriter.h"
#include "PluginRecord.h"
#include "PluginSelf.h"

using PluginRecord::CRecord;

namespace
{
// The index of the device this copy serves, from its Init; -1 before.
int32_t g_index = -1;

PluginControl::CControlChoice ReadControl(const std::wstring& installPath, const CRecord& record)
{
    std::vector<char> bytes;
    if (installPath.empty() || Common::ReadBoundedFile(installPath + L"\\" + PluginFiles::CONTROL_FILE,
                                                       PluginFiles::CONTROL_MAX_BYTES, bytes) != ERROR_SUCCESS)
        return PluginControl::CControlChoice();
    return PluginControl::ChooseControl(std::string(bytes.begin(), bytes.end()), PluginRecord::Identifier(record));
}

void AddCommonFields(PluginJournal::CJournalLine& line, const std::wstring& modulePath)
{
    line.Add("plugin", std::string(PluginRecord::PLUGIN_NAME));
    line.Add("index", static_cast<int64_t>(g_index));
    line.Add("module", modulePath);
}
} // namespace

extern "C" int __cdecl Init(CRecord record)
{
    try
    {
        g_index = record.index;
        const std::wstring modulePath = PluginSelf::ModulePath();
        const std::wstring installPath = PluginSelf::InstallPath(modulePath);
        PluginControl::CControlChoice choice = ReadControl(installPath, record);
#if defined(KALEO_PLUGIN_REFUSES)
        // The variant a catalogue lists before a working plug-in, so that
        // the device manager must go on to the next entry.
        choice.result = ERROR_ACCESS_DENIED;
#endif
        if (choice.delayMs != 0)
            ::Sleep(choice.delayMs);

        PluginJournal::CJournalLine line(PluginFiles::CALL_INIT);
        line.Add("plugin", std::string(PluginRecord::PLUGIN_NAME));
        line.Add("pid", static_cast<int64_t>(record.pid));
        line.Add("index", static_cast<int64_t>(record.index));
        line.Add("result", static_cast<int64_t>(choice.result));
        line.Add("module", modulePath);
        PluginRecord::AddRecordFields(record, line);
        line.Add("process", static_cast<int64_t>(::GetCurrentProcessId()));
        PluginJournal::AppendJournalLine(installPath, line.Text());
        return choice.result;
    }
    catch (...)
    {
        // Out of memory on the way: refuse the device rather than serve it
        // half set up.
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

extern "C" void __cdecl UnInit(void)
{
    try
    {
        const std::wstring modulePath = PluginSelf::ModulePath();
        PluginJournal::CJournalLine line(PluginFiles::CALL_UNINIT);
        AddCommonFields(line, modulePath);
        line.Add("process", static_cast<int64_t>(::GetCurrentProcessId()));
        PluginJournal::AppendJournalLine(PluginSelf::InstallPath(modulePath), line.Text());
    }
    catch (...)
    {
        // Nothing to undo: the journal line is all UnInit does.
    }
}
