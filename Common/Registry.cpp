#include "Registry.h"

#include <cwchar>
#include <new>
#include <vector>
#include "Handles.h"

namespace Common
{

namespace
{

constexpr int kReadAttempts = 4;
// Longest value name (16383 characters) and its terminator.
constexpr DWORD kValueNameChars = 16384;

DWORD OpenKey(const std::wstring& keyPath, REGSAM access, CRegKey& key) noexcept
{
    return static_cast<DWORD>(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, access, key.Put()));
}

} // namespace

DWORD ReadBoundedString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring& out,
                        CRegValueInfo* info) noexcept
{
    CRegValueInfo found;
    CRegValueInfo& seen = info ? *info : found;
    try
    {
        // The value may change between the size query and the read.
        for (int attempt = 0; attempt < kReadAttempts; ++attempt)
        {
            DWORD bytes = 0;
            LONG rc = ::RegQueryValueExW(key, name, nullptr, &seen.dwType, nullptr, &bytes);
            seen.dwBytes = bytes;
            if (rc != ERROR_SUCCESS)
                return static_cast<DWORD>(rc);
            if (seen.dwType != REG_SZ && seen.dwType != REG_EXPAND_SZ)
                return ERROR_INVALID_DATA;
            if (bytes > maxBytes)
                return ERROR_MORE_DATA;
            // One spare zero character past what the query may fill.
            std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
            DWORD got = bytes;
            rc = ::RegQueryValueExW(key, name, nullptr, &seen.dwType, reinterpret_cast<BYTE*>(buffer.data()), &got);
            if (rc == ERROR_MORE_DATA)
                continue;
            if (rc != ERROR_SUCCESS)
                return static_cast<DWORD>(rc);
            if (seen.dwType != REG_SZ && seen.dwType != REG_EXPAND_SZ)
                return ERROR_INVALID_DATA;
            if (got > bytes)
                continue;
            // The writer may have left out the terminator or stored an odd
            // byte count: whole characters up to the first NUL, never beyond.
            seen.dwBytes = got;
            const size_t chars = got / sizeof(wchar_t);
            out.assign(buffer.data(), ::wcsnlen(buffer.data(), chars));
            return ERROR_SUCCESS;
        }
        return ERROR_MORE_DATA;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD ReadStringValue(HKEY key, const wchar_t* name, std::wstring& out) noexcept
{
    std::wstring text;
    const DWORD rc = ReadBoundedString(key, name, REG_STRING_BUFFER_BYTES, text);
    if (rc != ERROR_SUCCESS)
        return rc;
    // A full buffer without a terminator holds one character too many.
    if (text.size() > REG_TEXT_MAX_CHARS)
        return ERROR_MORE_DATA;
    out.swap(text);
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

namespace
{

void CaptureKey(HKEY key, const std::wstring& relPath, std::vector<wchar_t>& name, std::vector<CRegKeyCopy>& keys)
{
    CRegKeyCopy saved{relPath, {}};
    for (DWORD index = 0;; ++index)
    {
        DWORD nameChars = kValueNameChars;
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (::RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        CRegValueCopy value{std::wstring(name.data(), nameChars), type, std::vector<BYTE>(size)};
        nameChars = kValueNameChars;
        if (::RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type,
                            size ? value.data.data() : nullptr, &size) != ERROR_SUCCESS)
            continue;
        value.type = type;
        value.data.resize(size);
        saved.values.push_back(std::move(value));
    }
    keys.push_back(std::move(saved));
    // The registry itself bounds the depth (512 levels); each level keeps
    // only a key name on the stack.
    for (DWORD index = 0;; ++index)
    {
        WCHAR child[REG_KEY_NAME_MAX_CHARS + 1];
        DWORD childChars = REG_KEY_NAME_MAX_CHARS + 1;
        if (::RegEnumKeyExW(key, index, child, &childChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring childName(child, childChars);
        CRegKey sub;
        if (::RegOpenKeyExW(key, childName.c_str(), 0, KALEO_READ_ACCESS, sub.Put()) == ERROR_SUCCESS)
            CaptureKey(sub.Get(), relPath.empty() ? childName : relPath + L"\\" + childName, name, keys);
    }
}

} // namespace

DWORD CaptureRegTree(HKEY key, std::vector<CRegKeyCopy>& keys) noexcept
{
    try
    {
        std::vector<wchar_t> name(kValueNameChars);
        CaptureKey(key, std::wstring(), name, keys);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

} // namespace Common
