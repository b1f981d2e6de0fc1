#pragma once
// The app manager: registrations, the shared app table, process monitors,
// the active app and the global effect.
#include <windows.h>
#include <memory>
#include <string>
#include <unordered_map>

#include "AppData.h"
#include "Handles.h"
#include "RecursiveLock.h"
#include "RegisterData.h"
#include "TaskRuntime.h"

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
    DWORD GetProcessFileName(DWORD processId, wchar_t* buffer);

    // Observers for diagnostics and tests.
    bool HasWorkerThreads() const;
    HANDLE StopEvent() const { return m_stopEvent.Get(); }
    size_t RegisteredCount() const;
    size_t PendingTasks() const { return m_tasks.Pending(); }

protected:
    // --- shared app table (AppList.cpp). Call with m_stateLock held.
    // The mapped table, attaching once if needed; null without a view.
    Common::CAppData::_APPTABLE* AttachedTable();
    // Rows 1..count in use. A count another process wrote out of range is
    // repaired to 0..50 first (logged), so callers may index rows with it.
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
    static DWORD WINAPI RegisterThreadProc(LPVOID param);
    static DWORD WINAPI PipeThreadProc(LPVOID param);
    static DWORD WINAPI ActiveAppThreadProc(LPVOID param);

    BOOL CompleteRegistration(DWORD processId, const std::wstring& fullPath, const _REGISTERDATATYPE* block);
    // Starts DoMonitorProcess for the process on the task group.
    void StartMonitor(DWORD processId);
    // The exit steps of a watched process.
    void OnProcessExited(DWORD processId, const std::wstring& fileName);
    void EnsurePriorityList(HKEY appsKey);
    DWORD StartWorkerThreads();
    bool SetStopEvent();
    bool AnyWorkerRuns() const;

    Common::CHandle m_stopEvent;
    Common::CHandle m_registerThread;
    Common::CHandle m_pipeThread;
    Common::CHandle m_activeAppThread;
    std::unordered_map<DWORD, CAppEntry> m_registeredApps;
    std::unique_ptr<Common::CAppData> m_pAppData;
};
