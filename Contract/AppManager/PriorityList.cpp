#include "PriorityList.h"

#include <cwchar>
#include <cwctype>
#include <new>

#include "GlobalSecurity.h"
#include "Handles.h"

namespace PriorityList
{

bool IsPlainAppName(const std::wstring& name) noexcept
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

std::wstring AppKeyPath(const std::wstring& name)
{
    return std::wstring(Common::KALEO_APPS_KEY) + L"\\" + name;
}

DWORD ReadListValue(HKEY appsKey, std::wstring& out) noexcept
{
    return Common::ReadBoundedString(appsKey, PRIORITY_LIST_VALUE, LIST_MAX_BYTES, out);
}

DWORD WriteListValue(HKEY appsKey, const std::wstring& list) noexcept
{
    if (list.size() > LIST_MAX_CHARS)
        return ERROR_INVALID_PARAMETER;
    const DWORD bytes = static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(::RegSetValueExW(appsKey, PRIORITY_LIST_VALUE, 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(list.c_str()), bytes));
}

std::vector<std::wstring> SplitList(const std::wstring& list)
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

bool IsProbeableEntry(const std::wstring& entry) noexcept
{
    return entry.size() <= ENTRY_MAX_CHARS && IsPlainAppName(entry);
}

std::wstring MarkerName(const std::wstring& entry)
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

CMarkerProbe ProbeMarker(const std::wstring& entry) noexcept
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

CMarkerProbe LookAtMarker(const std::wstring& entry) noexcept
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

DWORD ReadAppEnable(const std::wstring& name, DWORD& enable, REGSAM access) noexcept
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
