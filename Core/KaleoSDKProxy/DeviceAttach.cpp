// Attaching devices: the three kinds the host asks for by pid, and the steps
// they share (device mutex, shutdown event, reader thread).
#include "KaleoSDKNative.h"

#include <new>

#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "GlobalSecurity.h"
#include "LogWriter.h"
#include "LogValues.h"
#include "ThreadOwner.h"

using Common::CHandle;
using Common::CSrwLock;

namespace
{

const wchar_t HID_NAME[] = L"CKaleoSDKNative::AddHIDDevice";
const wchar_t CONNECT_NAME[] = L"CKaleoSDKNative::AddKaleoConnectDevice";
const wchar_t HUE_NAME[] = L"CKaleoSDKNative::AddPhilipsHueDevice";

// The handle of an accessory application or Hue bulb: the key its record
// gets from the path the device manager builds for it. False when that
// number does not fit a key; no record can then match.
bool SpecialHandle(DWORD pid, int number, DEVICE_HANDLE& deviceHandle)
{
    const std::wstring path = pid == DeviceSources::PID_PHILIPS_HUE ? DeviceIdentity::MakeHueBulbPath(number)
                                                                     : DeviceIdentity::MakeBroadcastPath(pid, number);
    return !path.empty() && DeviceIdentity::MakeDeviceKey(path.c_str(), deviceHandle);
}

} // namespace

CKeptMutex CKaleoSDKNative::CreateDeviceMutex(const wchar_t* logName, const std::wstring& objectName) noexcept
{
    Common::CGlobalSecurity security;
    if (security.Build() != ERROR_SUCCESS)
        return CKeptMutex();
    std::wstring name;
    try
    {
        name = L"Global\\" + objectName;
    }
    catch (const std::bad_alloc&)
    {
        return CKeptMutex();
    }
    DWORD error = ERROR_SUCCESS;
    CKeptMutex mutex(MutexKeeper::Create(name.c_str(), security.Attributes(), error));
    if (mutex)
        KLOG(Common::LOG_INFO, L"%s | Mutex created = %d", logName, HandleValue(mutex.Get()));
    else
        KLOG(Common::LOG_ERROR, L"%s | Failed to create Mutex | error = %d", logName, static_cast<int>(error));
    return mutex;
}

bool CKaleoSDKNative::CreateHueMutex() noexcept
{
    if (m_hueMutex)
        return false;
    Common::CGlobalSecurity security;
    if (security.Build() != ERROR_SUCCESS)
        return false;
    DWORD error = ERROR_SUCCESS;
    m_hueMutex.Reset(MutexKeeper::Create(DeviceSources::HUE_MUTEX, security.Attributes(), error));
    return m_hueMutex.IsValid();
}

void CKaleoSDKNative::ReleaseHueMutex() noexcept
{
    m_hueMutex.Reset();
}

DWORD CKaleoSDKNative::AttachRecord(const wchar_t* logName, DEVICE_HANDLE deviceHandle, const DeviceRecord& record,
                                    bool hue) noexcept
{
    try
    {
        auto attachment = std::make_shared<CAttachment>();
        attachment->deviceMutex = CreateDeviceMutex(logName, record.objectName);
        const bool hueMutexHere = hue && attachment->deviceMutex && CreateHueMutex();
        attachment->shutdownEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        attachment->enabled = 1;

        DeviceRecord attached = record;
        attached.attachment = attachment;
        auto start = std::make_unique<CReaderStart>(CReaderStart{deviceHandle, attached, m_switches});

        // A reader needs its event to be stoppable: without one there is no
        // thread. The reader owns its start state until it ends.
        Common::CThreadOwner thread;
        const DWORD started =
            attachment->shutdownEvent
                ? thread.Start([start = std::move(start)]() { return RunMonitorData(*start); }, CREATE_SUSPENDED)
                : ::GetLastError();
        if (!thread.Owns())
        {
            KLOG(Common::LOG_ERROR, L"%s | Failed to create Thread | error = %d", logName,
                 static_cast<int>(started));
            // The device mutex goes with the attachment; a Hue mutex taken
            // for this bulb alone goes too.
            if (hueMutexHere)
                ReleaseHueMutex();
            return ERROR_CREATE_FAILED;
        }
        const HANDLE threadHandle = thread.Handle();
        KLOG(Common::LOG_INFO, L"%s | Thread created = %d", logName, HandleValue(threadHandle));
        attachment->readerThread = std::move(thread);
        try
        {
            CSrwLock::CScopedLock lock(m_lock);
            m_devices[deviceHandle] = attached;
        }
        catch (const std::bad_alloc&)
        {
            // Not stored: let the reader start, see the flag and end.
            attachment->shutdownFlag = 1;
            ::SetEvent(attachment->shutdownEvent.Get());
            Common::CThreadOwner reader = std::move(attachment->readerThread);
            reader.Resume();
            reader.Join(INFINITE);
            if (hueMutexHere)
                ReleaseHueMutex();
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        ::ResumeThread(threadHandle);
        return ERROR_SUCCESS;
    }
    catch (const std::exception&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CKaleoSDKNative::AddHIDDevice(int pid, const std::wstring& containerId, DEVICE_HANDLE& deviceHandle) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START | pid = %d, containerId = %s, handle = %d", HID_NAME, pid,
         containerId.c_str(), DeviceHandleToInt(deviceHandle));
    DWORD result = ERROR_FUNCTION_FAILED;
    try
    {
        if (m_deviceManager)
        {
            const DeviceTable table = m_deviceManager->CopyRecords();
            result = table.empty() ? ERROR_EMPTY : ERROR_NOT_FOUND;
            for (const auto& entry : table)
            {
                if (entry.second.pid != static_cast<DWORD>(pid) || entry.second.containerId != containerId)
                    continue;
                // Every interface sharing the container is attached; the
                // last one gives the handle and the result.
                result = IsAttached(entry.first) ? ERROR_ALREADY_EXISTS
                                                 : AttachRecord(HID_NAME, entry.first, entry.second, false);
                deviceHandle = entry.first;
            }
        }
    }
    catch (const std::exception&)
    {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    KLOG(Common::LOG_INFO, L"%s | END | pid = %d, containerId = %s, handle = %d | result = %d", HID_NAME, pid,
         containerId.c_str(), DeviceHandleToInt(deviceHandle), static_cast<int>(result));
    return result;
}

DWORD CKaleoSDKNative::AddKaleoConnectDevice(int pid, int index, DEVICE_HANDLE& deviceHandle) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START | pid = %d, appIndex = %d, id = %d ", CONNECT_NAME, pid, index,
         DeviceHandleToInt(deviceHandle));
    DWORD result = ERROR_FUNCTION_FAILED;
    try
    {
        if (m_deviceManager)
        {
            m_deviceManager->AddBroadcastDevices();
            const DeviceTable table = m_deviceManager->CopyRecords();
            DEVICE_HANDLE candidate = 0; // named by the request; may have no record
            if (table.empty())
                result = ERROR_EMPTY;
            else if (pid != static_cast<int>(DeviceSources::PID_BROADCAST_770) &&
                     pid != static_cast<int>(DeviceSources::PID_BROADCAST_818))
                result = ERROR_UNKNOWN_PRODUCT;
            else
            {
                result = ERROR_NOT_FOUND;
                const auto it = SpecialHandle(static_cast<DWORD>(pid), index, candidate) ? table.find(candidate)
                                                                                        : table.end();
                if (it != table.end() && (it->second.pid == DeviceSources::PID_BROADCAST_770 ||
                                          it->second.pid == DeviceSources::PID_BROADCAST_818))
                {
                    result = IsAttached(candidate) ? ERROR_ALREADY_EXISTS
                                                   : AttachRecord(CONNECT_NAME, candidate, it->second, false);
                    deviceHandle = candidate;
                }
            }
        }
    }
    catch (const std::exception&)
    {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    KLOG(Common::LOG_INFO, L"%s | END | pid = %d, appIndex = %d, id = %d | result = %d", CONNECT_NAME, pid, index,
         DeviceHandleToInt(deviceHandle), static_cast<int>(result));
    return result;
}

DWORD CKaleoSDKNative::AddPhilipsHueDevice(int pid, int bulb, DEVICE_HANDLE& deviceHandle) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START | pid = %d, id = %d, handle = %d ", HUE_NAME, pid, bulb,
         DeviceHandleToInt(deviceHandle));
    DWORD result = AddPhilipsHueBulbIds(bulb);
    try
    {
        if (result == ERROR_DEVICE_NOT_CONNECTED)
        {
            // No bridge paired: nothing to attach.
        }
        else if (!m_deviceManager)
            result = ERROR_FUNCTION_FAILED;
        else
        {
            // The bulb's record comes from the list just written.
            m_deviceManager->AddSmartLightingDevices();
            const DeviceTable table = m_deviceManager->CopyRecords();
            DEVICE_HANDLE candidate = 0; // named by the request; may have no record
            if (table.empty())
                result = ERROR_EMPTY;
            else if (pid != static_cast<int>(DeviceSources::PID_PHILIPS_HUE))
                result = ERROR_UNKNOWN_PRODUCT;
            else
            {
                result = ERROR_NOT_FOUND;
                const auto it = SpecialHandle(DeviceSources::PID_PHILIPS_HUE, bulb, candidate) ? table.find(candidate)
                                                                                             : table.end();
                if (it != table.end() && it->second.pid == DeviceSources::PID_PHILIPS_HUE)
                {
                    result = IsAttached(candidate) ? ERROR_ALREADY_EXISTS
                                                   : AttachRecord(HUE_NAME, candidate, it->second, true);
                    deviceHandle = candidate;
                }
            }
        }
    }
    catch (const std::exception&)
    {
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    KLOG(Common::LOG_INFO, L"%s | END | pid = %d, appIndex = %d, handle = %d | result = %d", HUE_NAME, pid, bulb,
         DeviceHandleToInt(deviceHandle), static_cast<int>(result));
    return result;
}
