// Every app's record under "Apps\<executable file name>": written from a
// registration block or from the app's information file. An existing
// record is updated; "Enable" is written only when the record is created,
// so a user's choice survives every later registration.
#include "AppManager.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <vector>

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

// Other tooling matches the "lStatus" line of a failed registry call: its
// text stays, and the DEBUG line after it names the call.
void LogStatus(LONG rc, const wchar_t* call, const wchar_t* what)
{
    KLOG(LOG_ERROR, L"[CAppManager] lStatus = %ld", rc);
    KLOG(LOG_DEBUG, L"[CAppManager] %s(%s) failed", call, what);
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
        LogStatus(rc, L"RegSetValueExW", name);
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    const LONG rc = ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (rc != ERROR_SUCCESS)
        LogStatus(rc, L"RegSetValueExW", name);
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

// What one writer puts into a record, gathered before the key is touched
// and written in this order.
class CRecordValues
{
public:
    void Text(const wchar_t* name, std::wstring text) { m_values.push_back({name, REG_SZ, std::move(text), 0}); }
    void Number(const wchar_t* name, DWORD value) { m_values.push_back({name, REG_DWORD, std::wstring(), value}); }
    // After the values: an existing "Contact" brought under the contact rule.
    void RewriteContact() { m_rewriteContact = true; }

    void WriteTo(HKEY key) const
    {
        for (const CValue& value : m_values)
        {
            if (value.type == REG_SZ)
                SetString(key, value.name, value.text);
            else
                SetDword(key, value.name, value.number);
        }
        if (m_rewriteContact)
            RewriteStoredContact(key);
    }

private:
    struct CValue
    {
        const wchar_t* name;
        DWORD type;
        std::wstring text;
        DWORD number;
    };
    std::vector<CValue> m_values;
    bool m_rewriteContact = false;
};

enum class ERecordWrite
{
    Update,  // an existing record only
    Create,  // created when missing, with "Enable" = 1
};

// The one path of every writer. An update of a missing record returns
// ERROR_FILE_NOT_FOUND unlogged: the caller creates it instead.
DWORD WriteRecord(const CExecutable& exe, ERecordWrite mode, const CRecordValues& values)
{
    CRegKey key;
    bool created = false;
    const bool create = mode == ERecordWrite::Create;
    const DWORD rc = create ? CreateRecord(exe, key, created) : OpenRecord(exe, key);
    if (rc == ERROR_FILE_NOT_FOUND && !create)
        return rc;
    if (rc != ERROR_SUCCESS)
    {
        LogStatus(static_cast<LONG>(rc), create ? L"RegCreateKeyExW" : L"RegOpenKeyExW", exe.strName.c_str());
        return rc;
    }
    if (created)
        SetDword(key.Get(), kEnable, 1);
    values.WriteTo(key.Get());
    return ERROR_SUCCESS;
}

_APPINFOBLOCK CopyInfoBlock(const void* appInfo)
{
    _APPINFOBLOCK info;
    std::memcpy(&info, appInfo, sizeof(info));
    return info;
}

// A registration block's values. An update brings the contact under the
// contact rule; a new record takes it as the block gives it.
CRecordValues BlockValues(const CExecutable& exe, const _APPINFOBLOCK& info, ERecordWrite mode)
{
    CRecordValues values;
    values.Text(kPath, exe.strPath);
    values.Text(kTitle, BlockText(info.szTitle));
    values.Text(kDescription, BlockText(info.szDescription));
    values.Text(kAuthor, BlockText(info.szAuthor));
    const std::wstring contact = BlockText(info.szContact);
    values.Text(kContact, mode == ERecordWrite::Update ? ApplyContactRule(contact) : contact);
    values.Number(kDevicesSupported, StoredDevices(info.dwDevices));
    values.Number(kCategory, StoredCategory(info.dwCategory));
    return values;
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
void AddFileContent(CRecordValues& values, const CAppInfoContent& content)
{
    if (!content.hasApplication)
        return;
    if (content.hasTitle)
        values.Text(kTitle, content.title);
    if (content.hasDescription)
        values.Text(kDescription, content.description);
    if (content.hasAuthor)
    {
        values.Text(kAuthor, content.author);
        values.Text(kContact, ApplyContactRule(content.contact));
    }
    if (content.hasDevices)
        values.Number(kDevicesSupported, content.devices);
    values.Number(kCategory, content.category);
}

void AddDefaults(CRecordValues& values, const CExecutable& exe)
{
    values.Text(kTitle, exe.strName);
    values.Text(kDescription, std::wstring());
    values.Text(kAuthor, DEFAULT_AUTHOR);
    values.Text(kContact, DEFAULT_CONTACT);
    values.Number(kDevicesSupported, DEVICES_ALL);
    values.Number(kCategory, CATEGORY_APPLICATION);
}

// The information file's values. Without a file a new record gets the
// defaults, an existing one all devices and its contact under the rule; a
// file that cannot be used changes nothing but the path.
CRecordValues FileValues(const CExecutable& exe, DWORD fileResult, const CAppInfoContent& content, ERecordWrite mode)
{
    CRecordValues values;
    values.Text(kPath, exe.strPath);
    if (fileResult == ERROR_SUCCESS)
        AddFileContent(values, content);
    else if (fileResult == ERROR_FILE_NOT_FOUND && mode == ERecordWrite::Create)
        AddDefaults(values, exe);
    else if (fileResult == ERROR_FILE_NOT_FOUND)
    {
        values.Number(kDevicesSupported, DEVICES_ALL);
        values.RewriteContact();
    }
    return values;
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
        CRecursiveLock::CScopedLock guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;

        const BYTE* appInfo = reinterpret_cast<const BYTE*>(&data) + REGISTER_APPINFO_OFFSET;
        const DWORD rc =
            WriteRecord(exe, ERecordWrite::Update, BlockValues(exe, CopyInfoBlock(appInfo), ERecordWrite::Update));
        if (rc == ERROR_FILE_NOT_FOUND)
            WriteAppRecord(appInfo, exe.strPath);
        else if (rc == ERROR_SUCCESS)
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
        const _APPINFOBLOCK info = CopyInfoBlock(appInfo);

        CRecursiveLock::CScopedLock guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;
        if (WriteRecord(exe, ERecordWrite::Create, BlockValues(exe, info, ERecordWrite::Create)) == ERROR_SUCCESS)
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
        CRecursiveLock::CScopedLock guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;

        const DWORD rc = WriteRecord(exe, ERecordWrite::Update,
                                     FileValues(exe, info.dwResult, info.content, ERecordWrite::Update));
        if (rc == ERROR_FILE_NOT_FOUND)
            CreateAppRecord(processId, exe.strPath, info);
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
        CRecursiveLock::CScopedLock guard(m_stateLock);
        CExecutable exe;
        if (!ParseExecutable(fullPath, exe))
            return;
        const CRecordValues values = FileValues(exe, info.dwResult, info.content, ERecordWrite::Create);
        if (WriteRecord(exe, ERecordWrite::Create, values) == ERROR_SUCCESS)
            KLOG(LOG_DEBUG, L"[CAppManager] Record of %s written (%d)", exe.strName.c_str(), info.dwResult);
    }
    catch (const std::exception&)
    {
        KLOG(LOG_ERROR, L"[CAppManager] ReadAppInfoFile(%d) failed: out of memory", processId);
    }
}
