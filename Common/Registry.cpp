#include "Registry.h"

#include <vector>
#include <new>
#include "Handles.h"

namespace Common
{

namespace
{

constexpr DWORD kStringBufferChars = REG_STRING_BUFFER_BYTES / sizeof(WCHAR);

DWORD OpenKey(const std::wstring& keyPath, REGSAM access, CRegKey& key) noexcept
{
    return static_cast<DWORD>(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access, key.Put()));
}

} // namespace

DWORD ReadStringValue(HKEY key, const wchar_t* name, std::wstring& out) noexcept
{
    // One spare zero character past what the query may fill.
    WCHAR buffer[kStringBufferChars + 1] = {};
    DWORD type = REG_NONE;
    DWORD bytes = REG_STRING_BUFFER_BYTES;
    const LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (bytes > REG_STRING_BUFFER_BYTES)
        return ERROR_MORE_DATA;

    // The writer may have left out the terminator or stored an odd byte
    // count: take whole characters up to the first NUL, never beyond.
    const size_t chars = bytes / sizeof(WCHAR);
    size_t length = 0;
    while (length < chars && buffer[length] != L'\0')
        ++length;
    if (length > REG_TEXT_MAX_CHARS)
        return ERROR_MORE_DATA;

    try
    {
        std::wstring text(buffer, length);
        out.swap(text);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

DWORD ReadDwordValue(HKEY key, const wchar_t* name, DWORD& out) noexcept
{
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD bytes = sizeof(value);
    const LONG rc = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);
    // A shorter value would leave bytes of the result undefined.
    if (type != REG_DWORD || bytes != sizeof(value))
        return ERROR_INVALID_DATA;
    out = value;
    return ERROR_SUCCESS;
}

bool GetInstallPath(std::wstring& out) noexcept
{
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, 0, KALEO_QUERY_ACCESS, key.Put()) != ERROR_SUCCESS)
        return false;
    std::wstring path;
    if (ReadStringValue(key.Get(), KALEO_INSTALL_PATH_VALUE, path) != ERROR_SUCCESS)
        return false;
    // An empty folder would turn "\Logs" or "\Devices.xml" into the drive root.
    if (path.empty())
        return false;
    out.swap(path);
    return true;
}

DWORD RegGetString(std::wstring keyPath, std::wstring valueName, std::wstring& out) noexcept
{
    CRegKey key;
    const DWORD rc = OpenKey(keyPath, KALEO_ALL_ACCESS, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    return ReadStringValue(key.Get(), valueName.c_str(), out);
}

DWORD RegSetString(std::wstring keyPath, std::wstring valueName, std::wstring text) noexcept
{
    // (length + 1) * 2 bytes must fit the DWORD size of the call.
    if (text.size() >= MAXDWORD / sizeof(WCHAR))
        return ERROR_INVALID_PARAMETER;

    CRegKey key;
    DWORD rc = OpenKey(keyPath, KALEO_ALL_ACCESS, key);
    if (rc == ERROR_FILE_NOT_FOUND)
        rc = static_cast<DWORD>(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr,
                                                  REG_OPTION_NON_VOLATILE, KALEO_ALL_ACCESS, nullptr,
                                                  key.Put(), nullptr));
    if (rc != ERROR_SUCCESS)
        return rc;

    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(::RegSetValueExW(key.Get(), valueName.c_str(), 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(text.c_str()), bytes));
}

DWORD RegGetDword(std::wstring keyPath, std::wstring valueName, DWORD& out) noexcept
{
    CRegKey key;
    const DWORD rc = OpenKey(keyPath, KALEO_ALL_ACCESS, key);
    if (rc != ERROR_SUCCESS)
        return rc;
    return ReadDwordValue(key.Get(), valueName.c_str(), out);
}

DWORD RegEnumSubkeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) noexcept
{
    CRegKey key;
    if (OpenKey(keyPath, KALEO_READ_ACCESS, key) != ERROR_SUCCESS)
        return ERROR_FUNCTION_FAILED;
    return EnumSubkeyNames(key.Get(), names);
}

DWORD EnumSubkeyNames(HKEY key, std::vector<std::wstring>& names) noexcept
{
    DWORD count = 0;
    DWORD longest = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return ERROR_FUNCTION_FAILED;
    if (count == 0)
        return ERROR_NOT_FOUND;

    // One character more than the longest name; never more than a key
    // name can hold, whatever the query reported.
    WCHAR name[REG_KEY_NAME_MAX_CHARS + 1];
    const DWORD nameChars = (longest < REG_KEY_NAME_MAX_CHARS ? longest : REG_KEY_NAME_MAX_CHARS) + 1;

    try
    {
        std::vector<std::wstring> found;
        found.reserve(count);
        for (DWORD index = 0; index < count; ++index)
        {
            DWORD length = nameChars;
            const LONG rc = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS)
                break; // keys removed meanwhile
            if (rc != ERROR_SUCCESS || length >= nameChars)
                continue;
            found.emplace_back(name, length);
        }
        if (found.empty())
            return ERROR_FUNCTION_FAILED;
        names.swap(found);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

DWORD RegEnumSubkeys(std::wstring keyPath, std::wstring& out) noexcept
{
    std::vector<std::wstring> names;
    const DWORD rc = RegEnumSubkeyNames(keyPath, names);
    if (rc != ERROR_SUCCESS)
        return rc;
    try
    {
        // Built aside, so out stays unchanged unless a name was added.
        std::wstring joined = out;
        for (const auto& name : names)
        {
            if (!joined.empty())
                joined += L',';
            joined += name;
        }
        out.swap(joined);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

} // namespace Common
