#pragma once
// The priority list of the "Apps" key, the apps' running markers and the
// names that key an app's record. In the contract: the module and kaleoctl
// probe the same way, and kaleoctl does not link the module's code.
#include <windows.h>
#include <string>
#include <vector>

#include "Registry.h"

namespace PriorityList
{

constexpr wchar_t PRIORITY_LIST_VALUE[] = L"PriorityList";
constexpr wchar_t ENABLE_VALUE[] = L"Enable";
constexpr wchar_t LIST_SEPARATOR = L';';
constexpr wchar_t MARKER_PREFIX[] = L"Global\\";
constexpr wchar_t MARKER_SUFFIX[] = L"_vx";

// The list text is read whole; a value larger than this is not used.
constexpr DWORD LIST_MAX_BYTES = 256 * 1024;
constexpr size_t LIST_MAX_CHARS = LIST_MAX_BYTES / sizeof(wchar_t) - 1;

// Longest entry that is probed: "Global\" + entry + "_vx" and a terminator
// must fit the 260 characters of a kernel object name.
constexpr size_t ENTRY_MAX_CHARS = MAX_PATH - 1 - (sizeof(MARKER_PREFIX) / sizeof(wchar_t) - 1) -
                                   (sizeof(MARKER_SUFFIX) / sizeof(wchar_t) - 1);
static_assert(ENTRY_MAX_CHARS == 249, "marker names fit MAX_PATH");

// An executable file name that may key a record under "Apps": not empty,
// no longer than a key name, no separator, control character or NUL, and
// not "." or "..". Anything else would address another key (the "Apps"
// key itself for an empty name).
bool IsPlainAppName(const std::wstring& name) noexcept;

// "Software\Vexel Kaleo SDK\Apps\<name>"; the name must be plain.
std::wstring AppKeyPath(const std::wstring& name);

// Reads "PriorityList" of the open "Apps" key: REG_SZ or REG_EXPAND_SZ of
// at most LIST_MAX_BYTES, up to its first NUL (a missing terminator is
// fine). ERROR_FILE_NOT_FOUND when the value is absent, ERROR_MORE_DATA when
// it is too large, ERROR_INVALID_DATA for another type. `out` is left
// untouched on failure.
DWORD ReadListValue(HKEY appsKey, std::wstring& out) noexcept;

// Writes the list as REG_SZ with its terminator.
DWORD WriteListValue(HKEY appsKey, const std::wstring& list) noexcept;

// The entries in list order; empty tokens are skipped.
std::vector<std::wstring> SplitList(const std::wstring& list);

// Entries that are probed at all: plain names short enough for a marker.
bool IsProbeableEntry(const std::wstring& entry) noexcept;

// "Global\" + the entry with its extension replaced by "_vx", lower-cased
// (Game.exe -> Global\game_vx; an entry without extension gets "_vx").
std::wstring MarkerName(const std::wstring& entry);

// What probing a running marker found.
struct CMarkerProbe
{
    bool bHandle = false;   // CreateMutexW returned a handle
    DWORD dwError = 0;      // its last error
    // The app holds its marker: the mutex existed before we asked.
    bool Held() const { return bHandle && dwError == ERROR_ALREADY_EXISTS; }
};

// Asks for the marker the way the app side creates it (global security,
// initial owner) and closes it again at once. The entry must be
// probeable.
CMarkerProbe ProbeMarker(const std::wstring& entry) noexcept;

// The same verdict for an onlooker (the operator tool): OpenMutexW only, so
// looking never creates a marker that would make an app seem to run. The
// result reads as ProbeMarker's: an absent marker as "created", one of
// another type or owner as "no handle".
CMarkerProbe LookAtMarker(const std::wstring& entry) noexcept;

// "Enable" of an app's record; a missing or unreadable record or value is
// reported as failure and counts as not enabled.
DWORD ReadAppEnable(const std::wstring& name, DWORD& enable, REGSAM access = Common::KALEO_ALL_ACCESS) noexcept;

} // namespace PriorityList
