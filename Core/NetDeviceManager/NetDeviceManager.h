#pragma once
// The frame both network device managers are built from: the command
// worker, the reconciliation of configured against attached devices, and
// attaching each device through its own copy of a plug-in library. A module
// derives one final class from it and supplies only what differs: its
// settings, its configuration reader and its matching rules.
//
// Threads: the host's thread runs Init and UnInit (and, inside UnInit, the
// detach-all); the worker runs the commands. UnInit stops the worker before
// it detaches, so a detach-all never overlaps an update. A worker still busy
// in a plug-in call when the stop's wait ends is parked: the stop returns,
// and the worker detaches the devices itself once the call returns. It
// holds a reference on the module until it has ended.
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "DeviceInfo.h"
#include "Handles.h"
#include "Locks.h"
#include "ThreadOwner.h"

// Start result when the worker thread cannot be created.
constexpr DWORD WORKER_NOT_CREATED = 566;
// Start result while the worker of the last run still finishes its stop.
constexpr DWORD WORKER_STILL_BUSY = ERROR_BUSY;

// The settled values that tell the two modules apart in the frame.
struct CNetModuleSettings
{
    const wchar_t* className;        // prefix of the function names in log lines
    const wchar_t* workerName;       // class-qualified name of the worker body
    const wchar_t* settingsKey;      // under HKEY_LOCAL_MACHINE, 32-bit view
    const wchar_t* commandEventName; // "Global\{...}"
    DWORD stopWaitMs;                // how long a stop waits before it says so
    bool frameLogging;               // start, stop and worker lines
};

template <typename TRecord>
class CNetDeviceManager
{
public:
    using CDeviceTable = std::unordered_map<int32_t, TRecord>;

    explicit CNetDeviceManager(const CNetModuleSettings& settings) noexcept;
    // Runs with a started manager only when the host unloads the module
    // without UnInitServiceModule, inside DLL_PROCESS_DETACH: see there.
    virtual ~CNetDeviceManager();
    CNetDeviceManager(const CNetDeviceManager&) = delete;
    CNetDeviceManager& operator=(const CNetDeviceManager&) = delete;

    // Start and stop of the module frame; Win32 status codes.
    DWORD Init() noexcept;
    DWORD UnInit() noexcept;

    // One "Load": read the configuration, detach what changed, attach what
    // is new. The result is only logged.
    DWORD UpdateDevices() noexcept;
    bool RemoveInvalidDevices() noexcept;
    bool AddValidDevices() noexcept;
    // Detaches every attached device: 0 when one detach succeeded, 4319
    // with nothing attached, 1627 when every detach failed.
    DWORD ClearDevices() noexcept;

    // One device through its own plug-in copy.
    DWORD AddDevice(int32_t index, TRecord record) noexcept;
    DWORD RemoveDevice(int32_t index, TRecord record) noexcept;

    // Copy of the attached devices, taken under m_deviceLock.
    CDeviceTable ConnectedSnapshot() const;
    bool IsStarted() const noexcept { return m_pInstance != nullptr; }
    // A worker that outlived its stop still runs on this object: the
    // manager cannot start again, and must not be destroyed, until it ends.
    bool WorkerOutlivesStop() const noexcept;

protected:
    // Reads the configuration file into m_discovered; Win32 status code.
    virtual DWORD GetDevicesInfo(const std::wstring& path) = 0;
    // Called at a start that may proceed, before the events are created.
    virtual void OnStart() noexcept {}
    // C (connected) and D (discovered) denote the same, unchanged device.
    // Writes the module's comparison lines for a pair that is not.
    virtual bool CompareForRemoval(const wchar_t* function, const TRecord& connected,
                                   const TRecord& discovered) noexcept = 0;
    // D is already attached as C and needs no attach.
    virtual bool IsAlreadyAttached(const wchar_t* function, const TRecord& connected,
                                   const TRecord& discovered) noexcept = 0;
    // Whether a first attach and a detach-all take this record.
    virtual bool TakesPart(const TRecord& record) const noexcept = 0;
    // The record line(s) at the start of AddDevice and RemoveDevice.
    virtual void LogRecord(const wchar_t* function, int32_t index, const TRecord& record) noexcept = 0;
    // 0 when the record may be attached; else logs why and returns the code
    // (13 for an empty or unusable identifier). Runs after the pid check.
    virtual DWORD CheckIdentifier(const wchar_t* function, const TRecord& record) noexcept = 0;
    // File name of the record's plug-in copy in InstallPath\bin.
    virtual std::wstring DeviceModuleName(const TRecord& record) const = 0;
    // RemoveDevice refuses pid 0 with 1605 (IoT only).
    virtual bool RemoveRefusesPidZero() const noexcept = 0;

    // Writes a frame line (start, stop, worker) when the module logs them.
    void LogFrame(const wchar_t* format, ...) const noexcept;

    const CNetModuleSettings& m_settings;
    // Read by a parked worker while the host's stop clears it.
    std::atomic<CNetDeviceManager*> m_pInstance{nullptr};
    CDeviceTable m_connected;
    CDeviceTable m_discovered;
    // The loaded copy of each attached device, by index: the record's 32-bit
    // field cannot hold a 64-bit handle. Guarded by m_deviceLock.
    std::unordered_map<int32_t, HMODULE> m_modules;
    mutable Common::CSrwLock m_deviceLock;
    Common::CHandle m_hCommandEvent;
    Common::CHandle m_hStopEvent;
    Common::CThreadOwner m_worker;

private:
    // Who finishes a stop: the host, or a worker it gave up waiting for.
    enum : LONG
    {
        WORKER_IDLE = 0,    // no worker, or one that has left the tables
        WORKER_RUNNING = 1, // serving commands
        WORKER_PARKED = 2,  // outlived the stop's wait: finishes the stop itself
    };

    using PFN_PLUGIN_INIT = int(__cdecl*)(TRecord);
    using PFN_PLUGIN_UNINIT = void(__cdecl*)();

    DWORD WorkerBody() noexcept;
    bool StartWorker() noexcept;
    DWORD RunWorker() noexcept;
    void RunCommand() noexcept;
    void LeaveWorker() noexcept;
    bool StopWorker(const wchar_t* function) noexcept;
    void FinishParkedStop() noexcept;
    void CloseEvents() noexcept;
    size_t ConnectedCount() const noexcept;
    void AttachAll(const wchar_t* function);
    DWORD AttachFromCatalog(const wchar_t* function, int32_t index, TRecord& record);
    DWORD AttachCopy(const wchar_t* function, int32_t index, TRecord& record, const std::wstring& source,
                     const std::wstring& target);
    DWORD DetachCopy(const wchar_t* function, int32_t index, const TRecord& record);
    void DeleteLeftCopies() noexcept;
    bool IsCopyInUse(const std::wstring& target) const;
    HMODULE LoadedCopy(int32_t index) const noexcept;
    int32_t SmallestFreeIndex() const noexcept;
    void LogConnected(const wchar_t* function) const noexcept;

    std::atomic<LONG> m_workerState{WORKER_IDLE};
    // Set on the worker's thread while it finishes a parked stop: the
    // detaches then run although the manager is no longer started.
    bool m_finishingStop = false;
};

// "CClass::Function" in a fixed buffer, so naming a log line never allocates.
class CFunctionName
{
public:
    CFunctionName(const wchar_t* className, const wchar_t* function) noexcept;
    operator const wchar_t*() const noexcept { return m_text; }

private:
    wchar_t m_text[96];
};
