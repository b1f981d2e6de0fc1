#pragma once
// The files the sample device plug-ins share with the operator tool, both
// in the install folder (the parent of the folder holding a plug-in copy):
// the journal every copy appends its calls to, and the control file that
// tells a copy what its Init answers for a device.
#include <windows.h>

namespace PluginFiles
{

constexpr wchar_t JOURNAL_FILE[] = L"PluginJournal.txt";
constexpr wchar_t CONTROL_FILE[] = L"PluginControl.txt";

// A control file is a few lines; anything larger is ignored unread.
constexpr DWORD CONTROL_MAX_BYTES = 64u * 1024u;
// The longest delay an Init honours; a control line asking more waits this.
constexpr DWORD MAX_INIT_DELAY_MS = 60000;

// The calls a journal line starts with.
constexpr char CALL_INIT[] = "Init";
constexpr char CALL_UNINIT[] = "UnInit";

// The plug-in names a journal line carries in "plugin=".
constexpr char PLUGIN_HUE[] = "Hue";
constexpr char PLUGIN_IOT[] = "IoT";

} // namespace PluginFiles
