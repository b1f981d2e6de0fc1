#pragma once
// The device side of the proxy: owns the device manager, attaches the
// devices the host asks for (device mutex, shutdown event, reader thread on
// the device's data pipe) and detaches them again. One per process; the
// exports and the reader threads reach it through Instance().
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "DeviceHandle.h"
#include "DeviceManagerNative.h"
#include "Handles.h"
#include "Locks.h"
#include "MutexKeeper.h"

class CKaleoSDKNative
{
public:
    // How long a detach waits for a device's reader thread. One still
    // running then (inside the host's callback) is left to end on its own.
    static constexpr DWORD READER_STOP_WAIT_MS = 3000;

    // Creates the device manager and reads "DebugProxy". Sets the
    // process-wide instance pointer.
    CKaleoSDKNative();
    // Stops the readers of devices still attached (no Cleanup), clears the
    // process-wide pointer and destroys the device manager.
    ~CKaleoSDKNative();
    CKaleoSDKNative(const CKaleoSDKNative&) = delete;
    CKaleoSDKNative& operator=(const CKaleoSDKNative&) = delete;

    // The process-wide instance, or null.
    static CKaleoSDKNative* Instance() noexcept;

    CDeviceManagerNative* DeviceManager() noexcept { return m_deviceManager.get(); }
    DWORD DebugProxy() const noexcept { return m_switches->debugProxy; }
    LONG Enabled() const noexcept { return m_switches->enabled; }

    // The two requests of Invoke. Each answers a whole response object;
    // JSON type errors in the request propagate to the caller.
    nlohmann::json HandleAddDevice(nlohmann::json request);
    nlohmann::json HandleSetDeviceState(nlohmann::json request);

    // Attach operations: 0 with the device handle, or a Win32 code.
    DWORD AddHIDDevice(int pid, const std::wstring& containerId, DEVICE_HANDLE& deviceHandle) noexcept;
    DWORD AddKaleoConnectDevice(int pid, int index, DEVICE_HANDLE& deviceHandle) noexcept;
    DWORD AddPhilipsHueDevice(int pid, int bulb, DEVICE_HANDLE& deviceHandle) noexcept;

    // The registry list of attached Hue bulbs.
    DWORD AddPhilipsHueBulbIds(int bulb) noexcept;
    DWORD RemovePhilipsHueBulbIds(DEVICE_HANDLE deviceHandle) noexcept;

    // Detaches one device: 0, or 1168 for a handle that is not attached.
    DWORD RemoveDevice(DEVICE_HANDLE deviceHandle) noexcept;
    // Detaches every device and stops the device manager; the number of
    // records the manager removed.
    int Cleanup() noexcept;

    // One pipe message of a device: 0 when it was forwarded to the host,
    // 1627 without "eventId". Runs on the device's reader thread; with
    // debugProxy 1 the message goes to the device's log as well.
    static DWORD ProcessData(DEVICE_HANDLE deviceHandle, nlohmann::json& message, DWORD debugProxy);

    // Attached devices; for tests.
    size_t AttachedCount() const noexcept;
    bool IsAttached(DEVICE_HANDLE deviceHandle) const noexcept;
    bool HoldsHueMutex() const noexcept;

private:
    using CAttachment = DeviceRecord::_ATTACHMENT;
    // What the readers consult beside their own record. Shared with every
    // reader, so one that outlives its detach (and this object) has them.
    struct CReaderSwitches
    {
        std::atomic<LONG> enabled{1}; // the global data switch
        DWORD debugProxy = 0;      // 1: every message goes to the device's log too
    };
    // A reader's own state: the handle, the record as attached (with the
    // attachment) and the switches. The reader keeps it until it ends and
    // never touches this object, so a detach need not outwait it.
    struct CReaderStart
    {
        DEVICE_HANDLE deviceHandle;
        DeviceRecord record;
        std::shared_ptr<const CReaderSwitches> switches;
    };

    DWORD AttachRecord(const wchar_t* logName, DEVICE_HANDLE deviceHandle, const DeviceRecord& record, bool hue) noexcept;
    CKeptMutex CreateDeviceMutex(const wchar_t* logName, const std::wstring& objectName) noexcept;
    // True when this call created the Hue mutex.
    bool CreateHueMutex() noexcept;
    void ReleaseHueMutex() noexcept;
    // Stops the reader, releases the device's objects; logs under logName.
    void ReleaseAttachment(const wchar_t* logName, const DeviceRecord& record, bool namePipeInLog) noexcept;
    DWORD SetDeviceEnabled(DEVICE_HANDLE deviceHandle, LONG enable) noexcept;
    bool HueBridgePaired(const wchar_t* logName) noexcept;
    // Takes the bulb named by a Hue device's object text off the list.
    DWORD RemoveHueBulb(const std::wstring& objectName) noexcept;

    enum class EReadEnd { ClientGone, Shutdown, Failed };
    // The reader thread's body; it owns `reader` until it ends.
    static DWORD RunMonitorData(const CReaderStart& reader) noexcept;
    static EReadEnd ReadMessages(const CReaderStart& reader, HANDLE instance, HANDLE ioEvent, char* buffer,
                                 const wchar_t* logFile, DWORD& result) noexcept;
    static DWORD DropRestOfMessage(HANDLE instance, HANDLE ioEvent, HANDLE shutdownEvent, char* buffer,
                                   const wchar_t* logFile) noexcept;
    static void ServeMessage(const CReaderStart& reader, const char* text, size_t length, DWORD& result) noexcept;
    static void DumpMessage(DEVICE_HANDLE deviceHandle, const std::string& text) noexcept;

    std::unordered_map<DEVICE_HANDLE, DeviceRecord> m_devices;
    mutable Common::CSrwLock m_lock;
    std::unique_ptr<CDeviceManagerNative> m_deviceManager;
    CKeptMutex m_hueMutex;
    std::shared_ptr<CReaderSwitches> m_switches;
};
