// The global effect: which records the device side gets when the lighting
// owner changes, and the active-app thread that switches it.
#include "AppManager.h"


#include "EffectRings.h"
#include "GlobalSecurity.h"
#include "LogWriter.h"
#include "NamedEvents.h"
#include "PriorityList.h"
#include "ProcessName.h"
#include "Registry.h"

using namespace Common;
using PriorityList::AppKeyPath;
using PriorityList::IsPlainAppName;

namespace
{
constexpr size_t kRowNameChars = sizeof(CAppData::_APPDATATYPE::szName) / sizeof(wchar_t);

// The name must be plain (PriorityList::IsPlainAppName): any other would
// address another key.
DWORD OpenAppRecord(const std::wstring& name, CRegKey& key)
{
    return static_cast<DWORD>(
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, AppKeyPath(name).c_str(), 0, KALEO_ALL_ACCESS, key.Put()));
}

// The global switch: "Enable" of the Apps key itself, 0 when unreadable.
DWORD ReadGlobalEnable()
{
    CRegKey apps;
    DWORD value = 0;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_APPS_KEY, 0, KALEO_ALL_ACCESS, apps.Put()) == ERROR_SUCCESS)
        ReadDwordValue(apps.Get(), L"Enable", value);
    return value;
}

// Name of the first listed row of the active app; empty when none.
std::wstring ActiveAppName(const CAppData::_APPTABLE& table, int count)
{
    const DWORD active = table.rows[0].dwProcessId;
    if (active == 0)
        return std::wstring();
    for (int i = 1; i <= count && i <= APP_TABLE_MAX_ROWS; ++i)
        if (table.rows[i].dwProcessId == active)
            return FieldText(table.rows[i].szName, kRowNameChars);
    return std::wstring();
}

// The next effect of the active-app thread, or 0 for none.
_EFFECTYPE NextEffect(bool enabled, DWORD lastEffect)
{
    if (enabled)
        return lastEffect == EFFECT_OWNED_A ? EFFECT_OWNED_B : EFFECT_OWNED_A;
    return lastEffect == EFFECT_RELEASED ? 0 : EFFECT_RELEASED;
}
} // namespace

void CAppManager::SetGlobalEffect(_EFFECTYPE effect, std::wstring appFileName)
{
    try
    {
        if (!IsPlainAppName(appFileName))
        {
            KLOG(LOG_ERROR, L"[AppManager] SetGlobalEffect(%d): app name of %d characters rejected", effect,
                 static_cast<int>(appFileName.size()));
            return;
        }
        DWORD devices = 0;
        {
            CRecursiveLock::CScopedLock guard(m_stateLock);
            CRegKey record;
            if (OpenAppRecord(appFileName, record) != ERROR_SUCCESS)
                return;
            // Missing or malformed: no device class.
            ReadDwordValue(record.Get(), L"DevicesSupported", devices);
        }
        KLOG(LOG_DEBUG, L"[AppManager] SetGlobalEffect(%d, %s) devices = 0x%02X", effect, appFileName.c_str(),
             devices);
        // The rings have locks of their own; other operations need not wait
        // for a megabyte of ring writes.
        if (m_pEffectRings)
            m_pEffectRings->WriteGlobalEffect(devices, effect);
        if (effect == EFFECT_RELEASED || effect == EFFECT_RELEASED_ALT)
            PulseNamedEvent(Effects::RELEASED_EVENT);
        PulseNamedEvent(Effects::GLOBAL_EFFECT_EVENT);
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] SetGlobalEffect(%d) failed", effect);
    }
}

DWORD CAppManager::DoMonitorActiveApp(DWORD* lastEffect)
{
    DWORD localEffect = 0;
    DWORD& state = lastEffect ? *lastEffect : localEffect;
    if (!m_stopEvent)
        return ERROR_INVALID_HANDLE;

    // Only waited on here: the module's own pulses open it for themselves.
    CHandle changed(::OpenEventW(SYNCHRONIZE, FALSE, APPS_CHANGED_EVENT));
    if (!changed)
    {
        CGlobalSecurity security;
        security.Build();  // default security when it cannot be built
        changed.Reset(::CreateEventW(security.Attributes(), TRUE, FALSE, APPS_CHANGED_EVENT));
    }
    if (!changed)
        return CLogWriter::GetInstance()->LogErrorCode(::GetLastError(), __LINE__);

    // The stop event first: when both are set, stopping wins.
    const HANDLE waits[2] = {m_stopEvent.Get(), changed.Get()};
    // Changes this module announced that no round has seen yet. A pulse
    // that comes while a round runs wakes nobody; the count still moved, so
    // the next round runs without waiting.
    unsigned long seen = 0;
    for (;;)
    {
        if (m_appsChanges.load() == seen)
        {
            const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (waited == WAIT_OBJECT_0)
                return ERROR_SUCCESS;
            if (waited != WAIT_OBJECT_0 + 1)
                return CLogWriter::GetInstance()->LogErrorCode(::GetLastError(), __LINE__);
        }
        else if (::WaitForSingleObject(m_stopEvent.Get(), 0) == WAIT_OBJECT_0)
            return ERROR_SUCCESS;
        // Taken before the round reads the state: a change after this is
        // seen by the next check.
        seen = m_appsChanges.load();

        // One bad round must not end the thread: the next pulse tries again.
        try
        {
            std::wstring name;
            DWORD globalEnable = 0;
            DWORD appEnable = 0;
            {
                CRecursiveLock::CScopedLock guard(m_stateLock);
                const int count = TableCount();
                const CAppData::_APPTABLE* table = AttachedTable();
                if (!table || count <= 0)
                    continue;
                globalEnable = ReadGlobalEnable();
                name = ActiveAppName(*table, count);
                if (!IsPlainAppName(name))
                    continue;
                CRegKey record;
                if (OpenAppRecord(name, record) != ERROR_SUCCESS ||
                    ReadDwordValue(record.Get(), L"Enable", appEnable) != ERROR_SUCCESS)
                    continue;
            }
            const _EFFECTYPE next = NextEffect(globalEnable == 1 && appEnable == 1, state);
            if (next == 0)
                continue;
            SetGlobalEffect(next, name);
            state = next;
        }
        catch (...)
        {
            KLOG(LOG_ERROR, L"[AppManager] Active-app round failed");
        }
    }
}
