#include "DeviceManagerNative.h"

#include "DeviceSources.h"
#include "LogWriter.h"

using Common::CSrwLock;
using Common::CThreadOwner;

namespace
{

const wchar_t* MonitorName(int monitor) noexcept
{
    static const wchar_t* const names[] = {L"Thread_MonitorDevices", L"Thread_MonitorHID", L"Thread_MonitorUSB"};
    return names[monitor];
}

} // namespace

CDeviceManagerNative::~CDeviceManagerNative()
{
    // Normally empty: Stop has joined every monitor. A monitor that outlived
    // Stop's wait (or a manager destroyed without Stop) still reads this
    // object, so it must end first; every wait of a monitor includes the
    // stop event, so this does not take long.
    {
        CSrwLock::CScopedLock lock(m_threadLock);
        m_stopFlag = 1;
    }
    if (m_stopEvent)
        ::SetEvent(m_stopEvent.Get());
    for (EMonitor monitor : {EMonitor::Hid, EMonitor::Usb, EMonitor::Devices})
        Monitor(monitor).Join(INFINITE);
}

CThreadOwner& CDeviceManagerNative::Monitor(EMonitor monitor) noexcept
{
    switch (monitor)
    {
    case EMonitor::Hid:
        return m_hidThread;
    case EMonitor::Usb:
        return m_usbThread;
    default:
        return m_devicesThread;
    }
}

bool CDeviceManagerNative::IsMonitorRunning(EMonitor monitor) const noexcept
{
    CSrwLock::CScopedLock lock(m_threadLock);
    const CThreadOwner& thread = const_cast<CDeviceManagerNative*>(this)->Monitor(monitor);
    return thread.Owns() && !thread.Lingering();
}

bool CDeviceManagerNative::HasDevicesThread() const noexcept { return IsMonitorRunning(EMonitor::Devices); }
bool CDeviceManagerNative::HasHidThread() const noexcept { return IsMonitorRunning(EMonitor::Hid); }
bool CDeviceManagerNative::HasUsbThread() const noexcept { return IsMonitorRunning(EMonitor::Usb); }

void CDeviceManagerNative::StartMonitor(EMonitor monitor) noexcept
{
    CSrwLock::CScopedLock lock(m_threadLock);
    CThreadOwner& thread = Monitor(monitor);
    if (thread.Owns() || Stopping() || !m_stopEvent)
        return;
    const DWORD rc = thread.Start([this, monitor]() { return RunMonitor(monitor); });
    if (rc != ERROR_SUCCESS)
        KLOG(Common::LOG_ERROR, L"%s | Failed to create Thread | error = %d", MonitorName(static_cast<int>(monitor)),
             static_cast<int>(rc));
}

void CDeviceManagerNative::JoinMonitor(EMonitor monitor) noexcept
{
    // Waited for outside the lock; the stop flag keeps the slot empty meanwhile.
    CThreadOwner thread;
    {
        CSrwLock::CScopedLock lock(m_threadLock);
        thread = std::move(Monitor(monitor));
    }
    if (thread.Join(STOP_WAIT_MS))
        return;
    // It still uses this object: it lingers in its slot, and the destructor
    // waits for it.
    KLOG(Common::LOG_WARN, L"CDeviceManagerNative::Stop | %s has not ended after %d ms",
         MonitorName(static_cast<int>(monitor)), static_cast<int>(STOP_WAIT_MS));
    CSrwLock::CScopedLock lock(m_threadLock);
    Monitor(monitor) = std::move(thread);
}

bool CDeviceManagerNative::AnyMonitorLingers() const noexcept
{
    for (const CThreadOwner* thread : {&m_hidThread, &m_usbThread, &m_devicesThread})
    {
        if (thread->Lingering())
            return true;
    }
    return false;
}

int CDeviceManagerNative::Start() noexcept
{
    const int h = EnumerateBus(DeviceSources::BUS_HID);
    const int u = EnumerateBus(DeviceSources::BUS_USB);
    const int s = AddSmartLightingDevices();
    const int b = AddBroadcastDevices();
    const int i = AddIoTDevices();

    {
        // One stop event per run: a second Start keeps the event the running
        // monitors wait on.
        CSrwLock::CScopedLock lock(m_threadLock);
        if (!m_stopEvent && !Stopping())
        {
            m_stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!m_stopEvent)
                KLOG(Common::LOG_ERROR, L"CDeviceManagerNative::Start | Failed to create the stop event | error = %d",
                     static_cast<int>(::GetLastError()));
        }
    }

    int result = s + b + i;
    if (h > 0)
    {
        StartMonitor(EMonitor::Hid);
        result += h;
    }
    if (u > 0)
    {
        StartMonitor(EMonitor::Usb);
        result += u;
    }
    StartMonitor(EMonitor::Devices);
    return result;
}

int CDeviceManagerNative::Stop() noexcept
{
    int removed = 0;
    for (;;)
    {
        std::wstring path;
        {
            CSrwLock::CScopedLock lock(m_tableLock);
            if (m_records.empty())
                break;
            try
            {
                path = m_records.begin()->second.devicePath;
            }
            catch (const std::bad_alloc&)
            {
            }
        }
        if (RemoveDevice(path) == ERROR_SUCCESS)
        {
            ++removed;
            continue;
        }
        // A record its own path does not find again: drop it so the loop ends.
        CSrwLock::CScopedLock lock(m_tableLock);
        if (!m_records.empty())
            m_records.erase(m_records.begin());
    }

    {
        CSrwLock::CScopedLock lock(m_threadLock);
        if (m_stopEvent)
            ::SetEvent(m_stopEvent.Get());
        m_stopFlag = 1;
    }
    JoinMonitor(EMonitor::Hid);
    JoinMonitor(EMonitor::Usb);
    JoinMonitor(EMonitor::Devices);

    // With every monitor ended the manager can run again; otherwise the
    // stop state stays, so no new monitor starts beside a lingering one.
    CSrwLock::CScopedLock lock(m_threadLock);
    if (!AnyMonitorLingers())
    {
        m_stopEvent.Reset();
        m_stopFlag = 0;
    }
    return removed;
}

DWORD CDeviceManagerNative::RunMonitor(EMonitor monitor) noexcept
{
    static const wchar_t* const keys[] = {DeviceSources::DEVICES_KEY, DeviceSources::HID_KEY,
                                          DeviceSources::USB_KEY};
    const wchar_t* name = MonitorName(static_cast<int>(monitor));
    const wchar_t* key = keys[static_cast<int>(monitor)];
    KLOG(Common::LOG_INFO, L"%s | START", name);
    // The first pass, and the first after the key could not be watched,
    // look at the key at once: what was written before the notice was armed
    // would otherwise wait for the next change. Only a change counts.
    bool catchUp = true;
    DWORD lastFailure = ERROR_SUCCESS;
    for (;;)
    {
        const DWORD rc = MonitorPass(key, catchUp);
        if (Stopping())
            break;
        catchUp = rc != ERROR_SUCCESS;
        if (rc == ERROR_SUCCESS)
        {
            lastFailure = ERROR_SUCCESS;
            continue;
        }
        // Said once per streak of the same failure; the retry waits, so a
        // missing key costs no CPU.
        if (rc != lastFailure)
            KLOG(Common::LOG_WARN, L"%s | cannot watch %s | error = %d", name, key, static_cast<int>(rc));
        lastFailure = rc;
        ::WaitForSingleObject(m_stopEvent.Get(), RETRY_MS);
        if (Stopping())
            break;
    }
    KLOG(Common::LOG_INFO, L"%s | END", name);
    return 0;
}
