#include "DeviceCatalog.h"
#include <cwchar>
#include <new>
#include <pugixml.hpp>
#include "BoundedFile.h"
#include "Handles.h"
#include "TextCodec.h"

namespace Common
{

namespace
{

static_assert(sizeof(pugi::char_t) == sizeof(wchar_t), "pugixml must be the wide-character build");

// CON, NUL, COM1 and the like name devices in every folder, with or
// without an extension.
bool IsReservedDeviceName(const std::wstring& file)
{
    std::wstring base = file.substr(0, file.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    static const wchar_t* const kReserved[] = {
        L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$",
        L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7", L"COM8", L"COM9",
        L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
    for (const wchar_t* name : kReserved)
    {
        if (EqualsNoCase(base, name))
            return true;
    }
    return false;
}

} // namespace

bool IsPlainPluginFileName(const std::wstring& file) noexcept
{
    if (file.empty() || file.size() > PLUGIN_FILE_NAME_MAX_CHARS)
        return false;
    bool onlyDotsAndBlanks = true;
    for (const wchar_t c : file)
    {
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr)
            return false;
        if (c != L'.' && c != L' ')
            onlyDotsAndBlanks = false;
    }
    if (onlyDotsAndBlanks)
        return false; // ".", ".." and what Windows trims down to them
    try
    {
        return !IsReservedDeviceName(file);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
}

std::wstring MakePluginPath(const std::wstring& installPath, const std::wstring& file)
{
    return installPath + L"\\bin\\" + file;
}

DWORD CDeviceCatalog::Load(const std::wstring& installPath) noexcept
{
    m_status = CATALOG_NOT_LOADABLE;
    m_entries.clear();
    m_installPath.clear();
    // Without a folder the path would point at the drive root.
    if (installPath.empty())
        return m_status;

    try
    {
        std::vector<char> bytes;
        // Shared for writing too: an installer may hold the catalogue open.
        if (ReadBoundedFile(installPath + L"\\" + DEVICE_CATALOG_FILE, DEVICE_CATALOG_MAX_BYTES, bytes) != ERROR_SUCCESS)
            return m_status;

        pugi::xml_document document;
        const pugi::xml_parse_result parsed =
            document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
        if (parsed.status == pugi::status_out_of_memory)
            return m_status = ERROR_NOT_ENOUGH_MEMORY;
        if (!parsed)
            return m_status;

        // First top-level node of exactly this name; later ones are ignored.
        const pugi::xml_node root = document.child(DEVICE_CATALOG_ROOT);
        if (!root)
            return m_status = CATALOG_NO_ROOT;

        std::vector<CCatalogEntry> entries;
        for (const pugi::xml_node node : root.children())
        {
            // Entries are elements; their names are free. Stray text between
            // them is not an entry.
            if (node.type() != pugi::node_element)
                continue;
            const pugi::xml_attribute pid = node.attribute(L"pid");
            CCatalogEntry entry;
            entry.signedPid = static_cast<LONG>(pid.as_int(0));
            entry.unsignedPid = static_cast<DWORD>(pid.as_uint(0));
            // A name that could leave InstallPath\bin counts as missing.
            std::wstring file = node.attribute(L"file").as_string(L"");
            if (IsPlainPluginFileName(file))
                entry.file.swap(file);
            entries.push_back(std::move(entry));
        }

        m_installPath = installPath;
        m_entries.swap(entries);
        m_status = ERROR_SUCCESS;
    }
    catch (const std::bad_alloc&)
    {
        m_entries.clear();
        m_status = ERROR_NOT_ENOUGH_MEMORY;
    }
    return m_status;
}

template <typename Match>
DWORD CDeviceCatalog::Find(Match match, std::vector<std::wstring>& paths) const noexcept
{
    if (m_status != ERROR_SUCCESS)
        return m_status;
    try
    {
        std::vector<std::wstring> found;
        for (const CCatalogEntry& entry : m_entries)
        {
            if (match(entry))
                found.push_back(MakePluginPath(m_installPath, entry.file));
        }
        if (found.empty())
            return CATALOG_NO_ENTRY;
        paths.swap(found);
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return ERROR_SUCCESS;
}

DWORD CDeviceCatalog::FindPlugins(LONG pid, std::vector<std::wstring>& paths) const noexcept
{
    return Find([pid](const CCatalogEntry& entry) { return entry.signedPid == pid; }, paths);
}

DWORD CDeviceCatalog::FindPluginsUnsigned(DWORD pid, std::vector<std::wstring>& paths) const noexcept
{
    return Find([pid](const CCatalogEntry& entry) { return entry.unsignedPid == pid; }, paths);
}

DWORD FindDevicePlugins(const std::wstring& installPath, LONG pid, std::vector<std::wstring>& paths) noexcept
{
    CDeviceCatalog catalog;
    const DWORD rc = catalog.Load(installPath);
    if (rc != ERROR_SUCCESS)
        return rc;
    return catalog.FindPlugins(pid, paths);
}

} // namespace Common
