#pragma once
// Reader of the plug-in catalogue Devices.xml in the install folder: which
// plug-in file in InstallPath\bin serves which product id. The file is read
// anew at every load; nothing is cached.
#include <windows.h>
#include <string>
#include <vector>

namespace Common
{

constexpr wchar_t DEVICE_CATALOG_FILE[] = L"Devices.xml";
constexpr wchar_t DEVICE_CATALOG_ROOT[] = L"devices";
// The catalogue is a short list; anything larger is not a catalogue.
constexpr DWORD DEVICE_CATALOG_MAX_BYTES = 4u * 1024u * 1024u;
// Longest plug-in file name accepted (one path component).
constexpr size_t PLUGIN_FILE_NAME_MAX_CHARS = 255;

// Results, so that each reader can map them to its own codes.
constexpr DWORD CATALOG_NOT_LOADABLE = ERROR_FILE_NOT_FOUND; // missing, unreadable, too large or malformed
constexpr DWORD CATALOG_NO_ROOT = ERROR_NOT_FOUND;           // no top-level "devices" node
constexpr DWORD CATALOG_NO_ENTRY = ERROR_NO_MATCH;           // no entry for the product id
// ERROR_NOT_ENOUGH_MEMORY when memory runs out.

struct CCatalogEntry
{
    LONG signedPid = 0;    // "pid" as a signed number (device managers)
    DWORD unsignedPid = 0; // "pid" as an unsigned number (proxy)
    std::wstring file;     // "file"; empty when missing or not a plain file name
};

class CDeviceCatalog
{
public:
    // Reads installPath\Devices.xml. 0, CATALOG_NOT_LOADABLE or CATALOG_NO_ROOT.
    DWORD Load(const std::wstring& installPath) noexcept;

    // Entries of the last successful load, in document order.
    const std::vector<CCatalogEntry>& Entries() const noexcept { return m_entries; }

    // Plug-in paths ("%s\bin\%s") of all entries with the product id, in
    // document order. 0, CATALOG_NO_ENTRY, or the failure of Load. `paths`
    // is replaced on success and untouched otherwise.
    DWORD FindPlugins(LONG pid, std::vector<std::wstring>& paths) const noexcept;
    DWORD FindPluginsUnsigned(DWORD pid, std::vector<std::wstring>& paths) const noexcept;

private:
    template <typename Match>
    DWORD Find(Match match, std::vector<std::wstring>& paths) const noexcept;

    std::wstring m_installPath;
    std::vector<CCatalogEntry> m_entries;
    DWORD m_status = CATALOG_NOT_LOADABLE;
};

// Lookup of the device managers: loads the catalogue and lists the plug-in
// paths for the signed product id, as CDeviceCatalog::FindPlugins.
DWORD FindDevicePlugins(const std::wstring& installPath, LONG pid, std::vector<std::wstring>& paths) noexcept;

// "%s\bin\%s" of the install folder and a plug-in file name.
std::wstring MakePluginPath(const std::wstring& installPath, const std::wstring& file);

// True for a single plain file name that stays inside InstallPath\bin: no
// path separator, drive or stream colon, wildcard or control character, not
// only dots, not a reserved device name, at most PLUGIN_FILE_NAME_MAX_CHARS.
bool IsPlainPluginFileName(const std::wstring& file) noexcept;

} // namespace Common
