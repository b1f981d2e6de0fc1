#pragma once
// The proxy's table of the lighting devices present on the machine, built
// from the device sources other processes publish in the registry, and the
// monitor threads that add devices as they appear.
#include <windows.h>
#include <atomic>
#include <string>
#include <unordered_map>
#include <vector>

#include "CatalogCache.h"
#include "DeviceHandle.h"
#include "DeviceRecord.h"
#include "Handles.h"
#include "Locks.h"
#include "LogWriter.h"
#include "ThreadOwner.h"

using DeviceTable = std::unordered_map<DEVICE_HANDLE, DeviceRecord>;

class CDeviceManagerNative
{
public:
    // How long Stop waits for each monitor thread.
    static constexpr DWORD STOP_WAIT_MS = 3000;
    // Pause after a change notice, so a burst of writes is complete.
    static constexpr DWORD SETTLE_MS = 500;
    // Pause before a monitor retries a key it could not watch.
    static constexpr DWORD RETRY_MS = 1000;

    CDeviceManagerNative() = default;
    // Waits for monitor threads that outlived Stop's wait: they use this
    // object until they end.
    ~CDeviceManagerNative();
    CDeviceManagerNative(const CDeviceManagerNative&) = delete;
    CDeviceManagerNative& operator=(const CDeviceManagerNative&) = delete;

    // Reads every source and starts the monitors; the number of devices
    // added. A second Start while running only rescans.
    int Start() noexcept;
    // Empties the table and ends the monitors; the number of records removed.
    int Stop() noexcept;

    // One pass: waits for a change under the key (or the stop event) and
    // reacts to it. Win32 status.
    DWORD MonitorDeviceRegistry(const wchar_t* keyPath) noexcept;

    // 0 when a new record was stored, 1627 otherwise.
    DWORD AddDevice(const std::wstring& path, const std::wstring& containerId) noexcept;
    // 0 when the record was erased, 1627 otherwise.
    DWORD RemoveDevice(const std::wstring& path) noexcept;

    // Sources; each returns the number of devices added.
    int EnumerateBus(const wchar_t* bus) noexcept;
    int AddSmartLightingDevices() noexcept;
    int AddBroadcastDevices() noexcept;
    int AddIoTDevices() noexcept;

    // A consistent copy of the table.
    DeviceTable CopyRecords() const;
    size_t RecordCount() const noexcept;

    // Which monitors run; for tests.
    bool HasDevicesThread() const noexcept;
    bool HasHidThread() const noexcept;
    bool HasUsbThread() const noexcept;
    const CCatalogCache& Catalog() const noexcept { return m_catalog; }

private:
    enum class EMonitor { Devices, Hid, Usb };

    // One scan: the catalogue read once, and the lines of its additions
    // written together when it ends.
    struct CScan
    {
        const CCatalogSnapshot& catalog;
        Common::CLogBatch log;
    };

    // Meets the devices of the shared walk over the sources.
    class CSourceAdder;

    DWORD AddDevice(const std::wstring& path, const std::wstring& containerId, CScan& scan) noexcept;
    // The record of a device the proxy keeps; false when it keeps none.
    bool BuildRecord(const std::wstring& path, const std::wstring& containerId, const CCatalogSnapshot& catalog,
                     DeviceRecord& record) const;
    int AddFromBus(const std::wstring& bus, CScan& scan);
    // Adds what one source's walk offers, in one scan.
    template <typename Walk>
    int AddFromSource(Walk walk) noexcept;
    // The fingerprint of the bus's last scan (0: never scanned).
    std::atomic<ULONGLONG>& BusPrint(const std::wstring& bus) noexcept;
    // Whether the bus lists other devices than its last scan read.
    bool BusChangedSinceScan(const wchar_t* bus) noexcept;
    // Whether a device a monitor of keyPath reacts to was published since
    // the buses were last scanned.
    bool ChangedSinceScan(const wchar_t* keyPath) noexcept;
    // Runs one scan over the current catalogue; 0 when there is none.
    template <typename Body>
    int Scan(Body body) noexcept;

    bool Stopping() const noexcept { return m_stopFlag != 0; }
    Common::CThreadOwner& Monitor(EMonitor monitor) noexcept;
    bool AnyMonitorLingers() const noexcept;
    bool IsMonitorRunning(EMonitor monitor) const noexcept;
    void StartMonitor(EMonitor monitor) noexcept;
    void JoinMonitor(EMonitor monitor) noexcept;
    DWORD RunMonitor(EMonitor monitor) noexcept;
    DWORD MonitorPass(const wchar_t* keyPath, bool catchUp) noexcept;
    void ReactToChange(const wchar_t* keyPath) noexcept;

    mutable Common::CSrwLock m_tableLock;
    DeviceTable m_records;

    // Guards the monitors and the stop flag, so no monitor starts once Stop
    // has begun. A monitor Stop could not wait out lingers in its slot.
    mutable Common::CSrwLock m_threadLock;
    Common::CThreadOwner m_devicesThread;
    Common::CThreadOwner m_hidThread;
    Common::CThreadOwner m_usbThread;

    Common::CHandle m_stopEvent;
    std::atomic<LONG> m_stopFlag{0};

    CCatalogCache m_catalog;
    // What the last scan of each bus read: a monitor's first look compares
    // against it, so a bus unchanged since is not scanned again.
    std::atomic<ULONGLONG> m_hidPrint{0};
    std::atomic<ULONGLONG> m_usbPrint{0};
};
