// Every app's record under "Apps\<executable file name>": written from a
// registration block or from the app's information file. An existing
// record is updated; "Enable" is written only when the record is created,
// so a user's choice survives every later registration.
#include "AppManager.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <mutex>

#include "AppInfoFile.h"
#include "LogWriter.h"
#include "PriorityList.h"
#include "ProcessName.h"
#include "Registry.h"

using namespace Common;
using namespace AppInfo;

namespace
{

// The app-information part of a registration block (from its title on).
#pragma pack(push, 4)
struct _APPINFOBLOCK
{
    wchar_t szTitle[256];
    wchar_t szDescription[1024];
    wchar_t szAuthor[256];
    wchar_t szContact[256];
    uint32_t dwDevices;
    uint32_t dwCategory;
};
#pragma pack(pop)

static_assert(sizeof(_APPINFOBLOCK) == REGISTER_APPINFO_SIZE, "app information block layout");
static_assert(offsetof(_APPINFOBLOCK, szDescription) ==
                  offsetof(_REGISTERDATATYPE, szDescription) - REGISTER_APPINFO_OFFSET,
              "app information block layout");
static_assert(offsetof(_APPINFOBLOCK, szAuthor) == offsetof(_REGISTERDATATYPE, szAuthor) - REGISTER_APPINFO_OFFSET,
              "app information block layout");
static_assert(offsetof(_APPINFOBLOCK, szContact) ==
                  offsetof(_REGISTERDATATYPE, szContact) - REGISTER_APPINFO_OFFSET,
              "app information block layout");
static_assert(offsetof(_APPINFOBLOCK, dwDevices) ==
                  offsetof(_REGISTERDATATYPE, dwDevices) - REGISTER_APPINFO_OFFSET,
              "app information block layout");
static_assert(offsetof(_APPINFOBLOCK, dwCategory) ==
                  offsetof(_REGISTERDATATYPE, dwCategory) - REGISTER_APPINFO_OFFSET,
              "app information block layout");

constexpr wchar_t kEnable[] = L"Enable";
constexpr wchar_t kPath[] = L"Path";
constexpr wchar_t kTitle[] = L"Title";
constexpr wchar_t kDescription[] = L"Description";
constexpr wchar_t kAuthor[] = L"Author";
constexpr wchar_t kContact[] = L"Contact";
constexpr wchar_t kDevicesSupported[] = L"DevicesSupported";
constexpr wchar_t kCategory[] = L"Category";

// A text field of a block another process filled: up to its first NUL, and
// never more than the field less its terminator.
template <size_t N>
std::wstring BlockText(const wchar_t (&field)[N])
{
    return std::wstring(field, ::wcsnlen(field, N - 1));
}

// The executable path split into the record's key name and the folder of
// its information file.
struct CExecutable
{
    std::wstring strPath;
    std::wstring strFolder; // empty: the path names no folder
    std::wstring strName;

    // False for a path no record may be kept for: empty, longer than the
    // product's path buffers, with a NUL inside, or whose file name is no
    // plain key name (a path ending in a separator would address the
    // "Apps" key itself).
    bool Parse(const std::wstring& path)
    {
        if (path.empty() || path.size() >= MAX_PATH || path.find(L'\0') != std::wstring::npos)
            return false;
        std::wstring name = FileNamePart(path);
        if (!PriorityList::IsPlainAppName(name))
            return false;
        strFolder = Common::FolderPart(path);
        strPath = path;
        strName.swap(name);
        return true;
    }
};

bool ParseExecutable(const std::wstring& path, CExecutable& exe)
{
    if (exe.Parse(path))
        return true;
    KLOG(LOG_ERROR, L"[CAppManager] No record for the executable path \"%s\"", path.c_str());
    return false;
}

DWORD OpenRecord(const CExecutable& exe, CRegKey& key)
{
    return static_cast<DWORD>(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, PriorityList::AppKeyPath(exe.strName).c_str(), 0,
                                              KALEO_ALL_ACCESS, key.Put()));
}

// Creates or opens the record; `created` tells which.
DWORD CreateRecord(const CExecutable& exe, CRegKey& key, bool& created)
{
    DWORD disposition = 0;
    const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, PriorityList::AppKeyPath(exe.strName).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, KALEO_ALL_ACCESS, nullptr, key.Put(), &disposition);
    created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return static_cast<DWORD>(rc);
}

// REG_SZ with its terminator.
void SetString(HKEY key, const wchar_t* name, const std::wstring& text)
{
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    if (rc != ERROR_SUCCESS)
        KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (rc != ERROR_SUCCESS)
        KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
}

// Reads the executable's information file; a path without folder has none.
DWORD LoadInfoFile(const CExecutable& exe, CAppInfoContent& content)
{
    const DWORD rc = exe.strFolder.empty() ? ERROR_FILE_NOT_FOUND : AppInfo::ReadAppInfoFile(exe.strFolder, content);
    if (rc == ERROR_FILE_NOT_FOUND)
        KLOG(LOG_DEBUG, L"[CAppManager] %s has no %s", exe.strName.c_str(), APP_INFO_FILE_NAME);
    else if (rc != ERROR_SUCCESS)
        KLOG(LOG_ERROR, L"[CAppManager] %s of %s cannot be used (%d)", APP_INFO_FILE_NAME, exe.strName.c_str(), rc);
    return rc;
}

// What the file declares; values of absent elements are left as they are.
void WriteFileContent(HKEY key, const CAppInfoContent& content)
{
    if (!content.hasApplication)
        return;
    if (content.hasTitle)
        SetString(key, kTitle, content.title);
    if (content.hasDescription)
        SetString(key, kDescription, content.description);
    if (content.hasAuthor)
    {
        SetString(key, kAuthor, content.author);
        SetString(key, kContact, ApplyContactRule(content.contact));
    }
    if (content.hasDevices)
        SetDword(key, kDevicesSupported, content.devices);
    SetDword(key, kCategory, content.category);
}

void WriteDefaults(HKEY key, const CExecutable& exe)
{
    SetString(key, kTitle, exe.strName);
    SetString(key, kDescription, std::wstring());
    SetString(key, kAuthor, DEFAULT_AUTHOR);
    SetString(key, kContact, DEFAULT_CONTACT);
    SetDword(key, kDevicesSupported, DEVICES_ALL);
    SetDword(key, kCategory, CATEGORY_APPLICATION);
}

// An existing "Contact" brought under the contact rule.
void RewriteStoredContact(HKEY key)
{
    std::wstring contact;
    if (ReadStringValue(key, kContact, contact) != ERROR_SUCCESS)
        return;
    const std::wstring rewritten = ApplyContactRule(contact);
    if (rewritten != contact)
        SetString(key, kContact, rewritten);
}

} // namespace

void CAppManager::SetAppInfo(_REGISTERDATATYPE data)
{
    wchar_t fullPath[MAX_PATH] = {};
    if (GetProcessFileName(data.dwProcessId, fullPath) == 0)
    {
        KLOG(LOG_ERROR, L"[AppManager] GetProcessFileName(%d) returns %d", data.dwProcessId, ::GetLastError());
        return;
    }
    StoreBlockInfo(data, fullPath);
}

// The record from a registration block, for the executable the caller read
// from the registering process.
void CAppManager::StoreBlockInfo(const _REGISTERDATATYPE& data, const std::wstring& fullPath)
{
    try
    {
        std::lock_guard<CRecursiveLock> guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;

        CRegKey key;
        const DWORD rc = OpenRecord(exe, key);
        if (rc == ERROR_FILE_NOT_FOUND)
        {
            WriteAppRecord(reinterpret_cast<const BYTE*>(&data) + REGISTER_APPINFO_OFFSET, exe.strPath);
            return;
        }
        if (rc != ERROR_SUCCESS)
        {
            KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
            return;
        }
        SetString(key.Get(), kPath, exe.strPath);
        SetString(key.Get(), kTitle, BlockText(data.szTitle));
        SetString(key.Get(), kDescription, BlockText(data.szDescription));
        SetString(key.Get(), kAuthor, BlockText(data.szAuthor));
        SetString(key.Get(), kContact, ApplyContactRule(BlockText(data.szContact)));
        SetDword(key.Get(), kDevicesSupported, StoredDevices(data.dwDevices));
        SetDword(key.Get(), kCategory, StoredCategory(data.dwCategory));
        KLOG(LOG_DEBUG, L"[CAppManager] Record of %s updated from its registration", exe.strName.c_str());
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[CAppManager] SetAppInfo(%d) failed: out of memory", data.dwProcessId);
    }
}

void CAppManager::WriteAppRecord(const void* appInfo, std::wstring fullPath)
{
    try
    {
        if (!appInfo)
            return;
        _APPINFOBLOCK info;
        std::memcpy(&info, appInfo, sizeof(info));

        std::lock_guard<CRecursiveLock> guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;
        CRegKey key;
        bool created = false;
        const DWORD rc = CreateRecord(exe, key, created);
        if (rc != ERROR_SUCCESS)
        {
            KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
            return;
        }
        if (created)
            SetDword(key.Get(), kEnable, 1);
        SetString(key.Get(), kPath, exe.strPath);
        SetString(key.Get(), kTitle, BlockText(info.szTitle));
        SetString(key.Get(), kDescription, BlockText(info.szDescription));
        SetString(key.Get(), kAuthor, BlockText(info.szAuthor));
        SetString(key.Get(), kContact, BlockText(info.szContact));
        SetDword(key.Get(), kDevicesSupported, StoredDevices(info.dwDevices));
        SetDword(key.Get(), kCategory, StoredCategory(info.dwCategory));
        KLOG(LOG_DEBUG, L"[CAppManager] Record of %s written from its registration", exe.strName.c_str());
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[CAppManager] WriteAppRecord failed: out of memory");
    }
}

// Reads the information file next to the executable; takes no lock.
CAppManager::CLoadedAppInfo CAppManager::ReadAppInfoContent(const std::wstring& fullPath)
{
    CLoadedAppInfo info;
    try
    {
        CExecutable exe;
        if (exe.Parse(fullPath))
            info.dwResult = LoadInfoFile(exe, info.content);
    }
    catch (const std::exception&)
    {
        info.dwResult = ERROR_NOT_ENOUGH_MEMORY;
    }
    return info;
}

void CAppManager::LoadAppInfo(DWORD processId, std::wstring fullPath)
{
    if (fullPath.empty())
        return;
    StoreAppInfo(processId, fullPath, ReadAppInfoContent(fullPath));
}

// The record of an app registered by process id, from its information file
// as read beforehand: a new record is created, an existing one updated.
void CAppManager::StoreAppInfo(DWORD processId, const std::wstring& fullPath, const CLoadedAppInfo& info)
{
    try
    {
        std::lock_guard<CRecursiveLock> guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;

        CRegKey key;
        const DWORD rc = OpenRecord(exe, key);
        if (rc == ERROR_FILE_NOT_FOUND)
        {
            CreateAppRecord(processId, exe.strPath, info);
            return;
        }
        if (rc != ERROR_SUCCESS)
        {
            KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
            return;
        }
        SetString(key.Get(), kPath, exe.strPath);
        if (info.dwResult == ERROR_SUCCESS)
            WriteFileContent(key.Get(), info.content);
        else if (info.dwResult == ERROR_FILE_NOT_FOUND)
        {
            SetDword(key.Get(), kDevicesSupported, DEVICES_ALL);
            RewriteStoredContact(key.Get());
        }
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[CAppManager] LoadAppInfo(%d) failed: out of memory", processId);
    }
}

void CAppManager::ReadAppInfoFile(DWORD processId, std::wstring fullPath)
{
    CreateAppRecord(processId, fullPath, ReadAppInfoContent(fullPath));
}

void CAppManager::CreateAppRecord(DWORD processId, const std::wstring& fullPath, const CLoadedAppInfo& info)
{
    try
    {
        std::lock_guard<CRecursiveLock> guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;
        CRegKey key;
        bool created = false;
        const DWORD rc = CreateRecord(exe, key, created);
        if (rc != ERROR_SUCCESS)
        {
            KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
            return;
        }
        if (created)
            SetDword(key.Get(), kEnable, 1);
        SetString(key.Get(), kPath, exe.strPath);
        if (info.dwResult == ERROR_SUCCESS)
            WriteFileContent(key.Get(), info.content);
        else if (info.dwResult == ERROR_FILE_NOT_FOUND)
            WriteDefaults(key.Get(), exe);
        KLOG(LOG_DEBUG, L"[CAppManager] Record of %s written (%d)", exe.strName.c_str(), info.dwResult);
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[CAppManager] ReadAppInfoFile(%d) failed: out of memory", processId);
    }
}
