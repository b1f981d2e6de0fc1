#include "DeviceManagerNative.h"

#include <cwchar>

#include "DeviceSources.h"
#include "LogWriter.h"
#include "Registry.h"

using Common::CHandle;
using Common::CRegKey;

DWORD CDeviceManagerNative::MonitorDeviceRegistry(const wchar_t* keyPath) noexcept
{
    return MonitorPass(keyPath, false);
}

DWORD CDeviceManagerNative::MonitorPass(const wchar_t* keyPath, bool catchUp) noexcept
{
    CRegKey key;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath ? keyPath : L"", 0, Common::KALEO_NOTIFY_ACCESS, key.Put());
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);

    CHandle changed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!changed)
        return ::GetLastError();

    constexpr DWORD filter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET |
                             REG_NOTIFY_CHANGE_SECURITY;
    static_assert(filter == 0x0F, "every kind of change under the key");
    rc = ::RegNotifyChangeKeyValue(key.Get(), TRUE, filter, changed.Get(), TRUE);
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);

    const HANDLE waits[] = {changed.Get(), m_stopEvent.Get()};
    if (!waits[1])
        return ERROR_INVALID_HANDLE;
    // Armed first, so nothing written from here on is missed. What was
    // written before (since the buses were last scanned, or while the key
    // could not be watched) counts as a change; a bus that still lists what
    // its last scan read is the baseline, not a change.
    if (catchUp && ChangedSinceScan(keyPath))
        ::SetEvent(changed.Get());
    const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0 || Stopping())
        return ERROR_SUCCESS;

    // Lets a burst of writes finish before it is read; a stop cuts it short.
    if (::WaitForSingleObject(m_stopEvent.Get(), SETTLE_MS) != WAIT_TIMEOUT || Stopping())
        return ERROR_SUCCESS;

    ReactToChange(keyPath);
    return ERROR_SUCCESS;
}

bool CDeviceManagerNative::ChangedSinceScan(const wchar_t* keyPath) noexcept
{
    if (wcscmp(keyPath, DeviceSources::HID_KEY) == 0)
        return BusChangedSinceScan(DeviceSources::BUS_HID);
    if (wcscmp(keyPath, DeviceSources::USB_KEY) == 0)
        return BusChangedSinceScan(DeviceSources::BUS_USB);
    if (wcscmp(keyPath, DeviceSources::DEVICES_KEY) == 0)
        return BusChangedSinceScan(DeviceSources::BUS_HID) || BusChangedSinceScan(DeviceSources::BUS_USB);
    return false;
}

void CDeviceManagerNative::ReactToChange(const wchar_t* keyPath) noexcept
{
    // Exact, case-sensitive: only the three watched keys react.
    if (wcscmp(keyPath, DeviceSources::DEVICES_KEY) == 0)
    {
        if (!HasHidThread() && EnumerateBus(DeviceSources::BUS_HID) > 0)
            StartMonitor(EMonitor::Hid);
        if (!HasUsbThread() && EnumerateBus(DeviceSources::BUS_USB) > 0)
            StartMonitor(EMonitor::Usb);
    }
    else if (wcscmp(keyPath, DeviceSources::HID_KEY) == 0)
    {
        KLOG(Common::LOG_INFO, L"%s | Changes in HID", L"CDeviceManagerNative::MonitorDeviceRegistry");
        EnumerateBus(DeviceSources::BUS_HID);
    }
    else if (wcscmp(keyPath, DeviceSources::USB_KEY) == 0)
    {
        KLOG(Common::LOG_INFO, L"%s | Changes in USB", L"CDeviceManagerNative::MonitorDeviceRegistry");
        EnumerateBus(DeviceSources::BUS_USB);
    }
}
