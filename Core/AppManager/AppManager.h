#pragma once
// The app manager: registrations, the shared app table, process monitors,
// the active app and the global effect.
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "AppData.h"
#include "AppInfoFile.h"
#include "Handles.h"
#include "Locks.h"
#include "EffectType.h"
#include "RegisterData.h"
#include "TaskRuntime.h"
#include "ThreadOwner.h"

class CEffectRings;

// Base of the module's manager objects; carries no operations of its own.
class CMockObjectBase
{
public:
    virtual ~CMockObjectBase() = default;
};

class CAppManager : public CMockObjectBase
{
public:
    struct CAppEntry
    {
        DWORD dwProcessId = 0;
        std::wstring strFileName;
    };

    CAppManager();
    ~CAppManager() override;
    CAppManager(const CAppManager&) = delete;
    CAppManager& operator=(const CAppManager&) = delete;

    virtual DWORD Init();
    virtual void UnInit();
    virtual void SetGlobalEffect(Common::_EFFECTYPE effect, std::wstring appFileName);
    virtual BOOL Register(const _REGISTERDATATYPE* data);
    virtual BOOL Register(DWORD processId);
    virtual BOOL Unregister(DWORD processId);
    virtual void SetAppInfo(_REGISTERDATATYPE data);
    virtual void LoadAppInfo(DWORD processId, std::wstring fullPath);
    virtual void WriteAppRecord(const void* appInfo, std::wstring fullPath);
    virtual void ReadAppInfoFile(DWORD processId, std::wstring fullPath);
    virtual void UpdateActiveApp(DWORD processId);
    virtual void AddToPriorityList(std::wstring fileName);
    virtual void UpdateAppList(std::wstring fileName, DWORD processId, BOOL add);
    virtual void ValidateAppsList();

    DWORD DoMonitorRegister();
    DWORD DoMonitorRegister2();
    DWORD DoMonitorActiveApp(DWORD* lastEffect);
    DWORD DoMonitorProcess(DWORD processId);
    // Watches a process through the handle its registration opened, so a
    // process id reused meanwhile can never be watched instead.
    DWORD DoMonitorProcess(DWORD processId, Common::CHandle process, std::wstring fileName);
    DWORD GetProcessFileName(DWORD processId, wchar_t* buffer);

    // Observers for diagnostics and tests.
    bool HasWorkerThreads() const;
    HANDLE StopEvent() const { return m_stopEvent.Get(); }
    size_t RegisteredCount() const;
    // File name of a registered-app map entry; empty when there is none.
    std::wstring RegisteredName(DWORD processId) const;
    size_t PendingTasks() const { return m_tasks.Pending(); }

protected:
    // --- shared app table (AppList.cpp). Call with m_stateLock held.
    // The mapped table, attaching (or making) it if needed; null without a view.
    Common::CAppData::_APPTABLE* AttachedTable();
    // Rows 1..count in use. A count another process wrote out of range is
    // repaired first (logged) to the leading rows that hold a process, so
    // callers may index rows with it.
    int TableCount();
    // Active app (row 0); 0 without a view.
    DWORD ActiveProcessId();
    void SetActiveProcessId(DWORD processId);

    // Guards the registered-app map, the shared table and the registry
    // records against the request threads, monitor tasks and host thread.
    mutable Common::CRecursiveLock m_stateLock;

    // Monitor tasks. They wait on the stop event as well, and UnInit waits
    // for all of them, so none can touch a destroyed manager.
    Common::CTaskGroup m_tasks;

    // Effect rings written by SetGlobalEffect (EffectRings.h); created by
    // the constructor.
    std::unique_ptr<CEffectRings> m_pEffectRings;

    // --- stopping (AppManager.cpp). The stop event's creation (a new
    // manual-reset event, not set) and its setting; seams for tests of a
    // start or a stop that fails.
    virtual HANDLE CreateStopEvent();
    virtual BOOL SignalStop();

    // --- request channels (RequestChannels.cpp, RequestRing.*)

    // --- registry records and priority list (AppRecords.cpp, ActiveApp.cpp, AppInfoFile.*)

    // --- global effect (GlobalEffect.cpp, EffectRings.*)

private:
    // Thread bodies: each logs the exception that would end its thread.
    DWORD RegisterThreadBody();
    DWORD PipeThreadBody();
    DWORD ActiveAppThreadBody();

    // --- registration (Registration.cpp). The process is opened once, and
    // that handle serves the path, the row's name and the monitor.
    BOOL CompleteRegistration(DWORD processId, Common::CHandle process, const std::wstring& fullPath);
    // Starts DoMonitorProcess on the task group; the task owns the handle.
    void StartMonitor(DWORD processId, Common::CHandle process, const std::wstring& fileName);
    // Bumps the change count, then pulses apps-changed: the active-app
    // thread compares the count before each wait, so a pulse that came
    // while it was busy is not lost.
    void AnnounceAppsChanged();

    // --- process monitor (ProcessMonitor.cpp)
    DWORD WatchProcess(DWORD processId, HANDLE process, const std::wstring& fileName);
    // The exit steps of a watched process.
    void OnProcessExited(DWORD processId, const std::wstring& fileName);

    // --- shared table and active app, with the name already known.
    void InsertAppRow(DWORD processId, const std::wstring& fileName);
    void SelectActiveApp(DWORD processId, const std::wstring& fileName);

    // --- records (AppRecords.cpp): the information file is read before the
    // state lock is taken, the record written under it.
    struct CLoadedAppInfo
    {
        DWORD dwResult = ERROR_FILE_NOT_FOUND;  // of AppInfo::ReadAppInfoFile
        AppInfo::CAppInfoContent content;
    };
    static CLoadedAppInfo ReadAppInfoContent(const std::wstring& fullPath);
    void StoreAppInfo(DWORD processId, const std::wstring& fullPath, const CLoadedAppInfo& info);
    void CreateAppRecord(DWORD processId, const std::wstring& fullPath, const CLoadedAppInfo& info);
    void StoreBlockInfo(const _REGISTERDATATYPE& data, const std::wstring& fullPath);

    void EnsurePriorityList(HKEY appsKey);
    DWORD StartWorkerThreads();
    bool SetStopEvent();
    bool AnyWorkerRuns() const;

    Common::CHandle m_stopEvent;
    Common::CThreadOwner m_registerThread;
    Common::CThreadOwner m_pipeThread;
    Common::CThreadOwner m_activeAppThread;
    std::unordered_map<DWORD, CAppEntry> m_registeredApps;
    std::unique_ptr<Common::CAppData> m_pAppData;
    // Changes announced on apps-changed by this module (AnnounceAppsChanged).
    std::atomic<unsigned long> m_appsChanges{0};
};
