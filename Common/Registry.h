#pragma once
// Install-path lookup and the registry helpers every module uses. All access
// goes to HKEY_LOCAL_MACHINE through the 32-bit view, so the 64-bit proxy and
// the 32-bit service modules see the same values.
#include <windows.h>
#include <string>
#include <vector>

namespace Common
{

constexpr wchar_t KALEO_ROOT_KEY[] = L"Software\\Vexel Kaleo SDK";
constexpr wchar_t KALEO_APPS_KEY[] = L"Software\\Vexel Kaleo SDK\\Apps";
constexpr wchar_t KALEO_INSTALL_PATH_VALUE[] = L"InstallPath";

constexpr REGSAM KALEO_ALL_ACCESS = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
constexpr REGSAM KALEO_READ_ACCESS = KEY_READ | KEY_WOW64_32KEY;
constexpr REGSAM KALEO_QUERY_ACCESS = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
constexpr REGSAM KALEO_NOTIFY_ACCESS = KEY_NOTIFY | KEY_WOW64_32KEY;
static_assert(KALEO_ALL_ACCESS == 0xF023F, "general helpers ask for all access, 32-bit view");
static_assert(KALEO_READ_ACCESS == 0x20219, "subkey enumeration asks for read access, 32-bit view");
static_assert(KALEO_QUERY_ACCESS == 0x201, "install-path reads ask for query access, 32-bit view");
static_assert(KALEO_NOTIFY_ACCESS == 0x210, "change notification, 32-bit view");

// String values are read through a buffer of this many bytes: at most
// REG_TEXT_MAX_CHARS characters and a terminator.
constexpr DWORD REG_STRING_BUFFER_BYTES = 520;
constexpr DWORD REG_TEXT_MAX_CHARS = REG_STRING_BUFFER_BYTES / sizeof(WCHAR) - 1;
static_assert(REG_TEXT_MAX_CHARS == 259, "texts fit the product's 260-character buffers");

// Longest registry key name, in characters (without terminator).
constexpr DWORD REG_KEY_NAME_MAX_CHARS = 255;

// Bounded readers shared by the helpers. Values come from other processes:
// ReadStringValue accepts REG_SZ/REG_EXPAND_SZ only, drops an odd trailing
// byte, stops at the first NUL, copes with a missing terminator, and fails
// with ERROR_MORE_DATA (234) when the text exceeds REG_TEXT_MAX_CHARS.
// ReadDwordValue accepts a REG_DWORD of exactly 4 bytes (larger: 234, other
// type or size: ERROR_INVALID_DATA). On any failure `out` is left untouched.
DWORD ReadStringValue(HKEY key, const wchar_t* name, std::wstring& out) noexcept;
DWORD ReadDwordValue(HKEY key, const wchar_t* name, DWORD& out) noexcept;

// What a bounded read found out about the value, for callers that report it.
struct CRegValueInfo
{
    DWORD dwType = REG_NONE;
    DWORD dwBytes = 0;
};
// A REG_SZ/REG_EXPAND_SZ value of at most maxBytes bytes, up to its first NUL
// (a missing terminator or an odd trailing byte is fine); read again when it
// changes between the size query and the read. ERROR_INVALID_DATA for
// another type, ERROR_MORE_DATA when larger (or still changing after a few
// tries), the query's error otherwise; `out` is left untouched on failure.
DWORD ReadBoundedString(HKEY key, const wchar_t* name, DWORD maxBytes, std::wstring& out,
                        CRegValueInfo* info = nullptr) noexcept;

// A copy of a key's tree: each key's path below the captured one ("" for
// that key itself) and its values as stored.
struct CRegValueCopy
{
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};
struct CRegKeyCopy
{
    std::wstring relPath;
    std::vector<CRegValueCopy> values;
};
// The values and subkeys of an open key (with KEY_READ), recursively,
// parents before children, in enumeration order; subkeys are opened with
// KALEO_READ_ACCESS. A value that changes while read or a subkey that cannot
// be opened is left out. 0, or ERROR_NOT_ENOUGH_MEMORY (`keys` then holds
// what was captured so far).
DWORD CaptureRegTree(HKEY key, std::vector<CRegKeyCopy>& keys) noexcept;

// "InstallPath" of the root key, query access only. False (out untouched)
// when the key or value is missing, malformed, too long or empty.
bool GetInstallPath(std::wstring& out) noexcept;

// General helpers, KEY_ALL_ACCESS through the 32-bit view. Each returns the
// Win32 status of the failing or last registry call (0 = success).
DWORD RegGetString(std::wstring keyPath, std::wstring valueName, std::wstring& out) noexcept;
// Creates the key when it is missing; writes REG_SZ with its terminator.
DWORD RegSetString(std::wstring keyPath, std::wstring valueName, std::wstring text) noexcept;
DWORD RegGetDword(std::wstring keyPath, std::wstring valueName, DWORD& out) noexcept;
// Adds the names of all subkeys to `out`, comma-separated (appended after a
// "," when out is not empty). 0 when one name was added, ERROR_NOT_FOUND
// (1168) without subkeys, ERROR_FUNCTION_FAILED (1627) when the key cannot
// be opened or queried or no name could be read; out unchanged unless 0.
DWORD RegEnumSubkeys(std::wstring keyPath, std::wstring& out) noexcept;
// The same names as a list, for names that may hold a ",". Same results;
// `names` is replaced only on 0.
DWORD RegEnumSubkeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) noexcept;
// The same on a key already open (with KEY_ENUMERATE_SUB_KEYS and
// KEY_QUERY_VALUE).
DWORD EnumSubkeyNames(HKEY key, std::vector<std::wstring>& names) noexcept;

} // namespace Common
