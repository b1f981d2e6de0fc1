#pragma once
// The priority list of the "Apps" key, the apps' running markers and the
// names that key an app's record. Header-only: the module and kaleoctl
// probe the same way, and kaleoctl does not link the module's code.
#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

#include "GlobalSecurity.h"
#include "Handles.h"
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
inline bool IsPlainAppName(const std::wstring& name) noexcept
{
    if (name.empty() || name.size() > Common::REG_KEY_NAME_MAX_CHARS)
        return false;
    if (name == L"." || name == L"..")
        return false;
    for (const wchar_t c : name)
    {
        if (c < 0x20 || c == L'\\' || c == L'/')
            return false;
    }
    return true;
}

// "Software\Vexel Kaleo SDK\Apps\<name>"; the name must be plain.
inline std::wstring AppKeyPath(const std::wstring& name)
{
    return std::wstring(Common::KALEO_APPS_KEY) + L"\\" + name;
}

// Reads "PriorityList" of the open "Apps" key: REG_SZ or REG_EXPAND_SZ of
// at most LIST_MAX_BYTES, up to its first NUL (a missing terminator is
// fine). ERROR_FILE_NOT_FOUND when the value is absent, ERROR_MORE_DATA when
// it is too large, ERROR_INVALID_DATA for another type. `out` is left
// untouched on failure.
inline DWORD ReadListValue(HKEY appsKey, std::wstring& out) noexcept
{
    return Common::ReadBoundedString(appsKey, PRIORITY_LIST_VALUE, LIST_MAX_BYTES, out);
}

// Writes the list as REG_SZ with its terminator.
inline DWORD WriteListValue(HKEY appsKey, const std::wstring& list) noexcept
{
    if (list.size() > LIST_MAX_CHARS)
        return ERROR_INVALID_PARAMETER;
    const DWORD bytes = static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(::RegSetValueExW(appsKey, PRIORITY_LIST_VALUE, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(list.c_str()), bytes));
}

// The entries in list order; empty tokens are skipped.
inline std::vector<std::wstring> SplitList(const std::wstring& list)
{
    std::vector<std::wstring> entries;
    size_t from = 0;
    while (from <= list.size())
    {
        size_t end = list.find(LIST_SEPARATOR, from);
        if (end == std::wstring::npos)
            end = list.size();
        if (end > from)
            entries.emplace_back(list, from, end - from);
        from = end + 1;
    }
    return entries;
}

// Entries that are probed at all: plain names short enough for a marker.
inline bool IsProbeableEntry(const std::wstring& entry) noexcept
{
    return entry.size() <= ENTRY_MAX_CHARS && IsPlainAppName(entry);
}

// "Global\" + the entry with its extension replaced by "_vx", lower-cased
// (Game.exe -> Global\game_vx; an entry without extension gets "_vx").
inline std::wstring MarkerName(const std::wstring& entry)
{
    std::wstring stem = entry.substr(0, entry.find_last_of(L'.'));
    stem += MARKER_SUFFIX;
    if (!stem.empty())
    {
        std::vector<wchar_t> lower(stem.size() + 1, L'\0');
        const int chars = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, stem.c_str(),
                                          static_cast<int>(stem.size()), lower.data(),
                                          static_cast<int>(stem.size()), nullptr, nullptr, 0);
        if (chars == static_cast<int>(stem.size()))
            stem.assign(lower.data(), stem.size());
        else
        {
            for (wchar_t& c : stem)
                c = static_cast<wchar_t>(std::towlower(c));
        }
    }
    return std::wstring(MARKER_PREFIX) + stem;
}

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
inline CMarkerProbe ProbeMarker(const std::wstring& entry) noexcept
{
    CMarkerProbe probe;
    try
    {
        const std::wstring name = MarkerName(entry);
        Common::CGlobalSecurity security;
        SECURITY_ATTRIBUTES* attributes = security.Build() == ERROR_SUCCESS ? security.Attributes() : nullptr;
        Common::CHandle mutex(::CreateMutexW(attributes, TRUE, name.c_str()));
        probe.dwError = ::GetLastError();
        probe.bHandle = mutex.IsValid();
    }
    catch (const std::bad_alloc&)
    {
        probe.dwError = ERROR_NOT_ENOUGH_MEMORY;
    }
    return probe;
}

// The same verdict for an onlooker (the operator tool): OpenMutexW only, so
// looking never creates a marker that would make an app seem to run. The
// result reads as ProbeMarker's: an absent marker as "created", one of
// another type or owner as "no handle".
inline CMarkerProbe LookAtMarker(const std::wstring& entry) noexcept
{
    CMarkerProbe probe;
    try
    {
        Common::CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, MarkerName(entry).c_str()));
        const DWORD error = ::GetLastError();
        probe.bHandle = mutex.IsValid() || error == ERROR_FILE_NOT_FOUND;
        probe.dwError = mutex.IsValid() ? ERROR_ALREADY_EXISTS : (error == ERROR_FILE_NOT_FOUND ? 0 : error);
    }
    catch (const std::bad_alloc&)
    {
        probe.dwError = ERROR_NOT_ENOUGH_MEMORY;
    }
    return probe;
}

// "Enable" of an app's record; a missing or unreadable record or value is
// reported as failure and counts as not enabled.
inline DWORD ReadAppEnable(const std::wstring& name, DWORD& enable,
                           REGSAM access = Common::KALEO_ALL_ACCESS) noexcept
{
    if (!IsPlainAppName(name))
        return ERROR_INVALID_NAME;
    try
    {
        Common::CRegKey key;
        const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, AppKeyPath(name).c_str(), 0, access, key.Put());
        if (rc != ERROR_SUCCESS)
            return static_cast<DWORD>(rc);
        return Common::ReadDwordValue(key.Get(), ENABLE_VALUE, enable);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace PriorityList
