// Detaching devices: one at the host's request, all of them at clean-up.
#include "KaleoSDKNative.h"

#include <new>

#include "DeviceSources.h"
#include "LogWriter.h"
#include "LogValues.h"

using Common::CSrwLock;

namespace
{

const wchar_t REMOVE_NAME[] = L"CKaleoSDKNative::RemoveDevice";
const wchar_t CLEANUP_NAME[] = L"CKaleoSDKNative::Cleanup";

} // namespace

// The reader stops reading and releases its pipe instance itself before it
// ends, so a detach that saw it end finds the instance released.
void CKaleoSDKNative::ReleaseAttachment(const wchar_t* logName, const DeviceRecord& record,
                                        bool namePipeInLog) noexcept
{
    CAttachment& attachment = *record.attachment;
    attachment.shutdownFlag = 1;
    if (attachment.shutdownEvent)
        ::SetEvent(attachment.shutdownEvent.Get());

    Common::CThreadOwner thread = std::move(attachment.readerThread);
    const int threadValue = HandleValue(thread.Handle());
    const bool ended = thread.Join(READER_STOP_WAIT_MS);
    if (namePipeInLog)
        KLOG(Common::LOG_INFO, L"%s | thread_handle = %d | %s", logName, threadValue, record.pipeName.c_str());
    else
        KLOG(Common::LOG_INFO, L"%s | thread_handle = %d", logName, threadValue);
    if (!ended)
    {
        // Still running (inside the host's callback): it holds its own
        // state and its reference on the library, and ends by itself once
        // the callback returns. Its handle goes now.
        KLOG(Common::LOG_WARN, L"%s | reader thread has not ended after %d ms", logName,
             static_cast<int>(READER_STOP_WAIT_MS));
    }
    thread.Detach();
    KLOG(Common::LOG_INFO, L"%s | pipe_handle = %d | %s", logName, HandleValue(attachment.pipeHandle),
         record.pipeName.c_str());

    if (attachment.deviceMutex)
    {
        // Released by the thread that holds it, whichever thread detaches.
        const int mutexValue = HandleValue(attachment.deviceMutex.Get());
        attachment.deviceMutex.Reset();
        KLOG(Common::LOG_INFO, L"%s | mutex_handle = %d", logName, mutexValue);
    }
    // A reader still running waits on its event: it goes with the reader.
    if (ended)
        attachment.shutdownEvent.Reset();
}

DWORD CKaleoSDKNative::RemoveDevice(DEVICE_HANDLE deviceHandle) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START | id = %d ", REMOVE_NAME, DeviceHandleToInt(deviceHandle));
    DWORD result = ERROR_SUCCESS;
    {
        CSrwLock::CScopedLock lock(m_lock);
        if (!m_devices.empty())
        {
            const auto it = m_devices.find(deviceHandle);
            if (it == m_devices.end())
                result = ERROR_NOT_FOUND;
            else
            {
                if (it->second.pid == DeviceSources::PID_PHILIPS_HUE)
                    RemoveHueBulb(it->second.objectName);
                ReleaseAttachment(REMOVE_NAME, it->second, true);
                m_devices.erase(it);
            }
        }
    }
    KLOG(Common::LOG_INFO, L"%s | END | id = %d | result = %d", REMOVE_NAME, DeviceHandleToInt(deviceHandle),
         static_cast<int>(result));
    return result;
}

int CKaleoSDKNative::Cleanup() noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START", CLEANUP_NAME);
    std::unordered_map<DEVICE_HANDLE, DeviceRecord> attached;
    {
        CSrwLock::CScopedLock lock(m_lock);
        attached.swap(m_devices);
    }
    for (const auto& entry : attached)
    {
        KLOG(Common::LOG_INFO, L"%s | device_handle = %d | pid = %d", CLEANUP_NAME, DeviceHandleToInt(entry.first),
             static_cast<int>(entry.second.pid));
        if (entry.second.pid == DeviceSources::PID_PHILIPS_HUE)
            RemoveHueBulb(entry.second.objectName);
        ReleaseAttachment(CLEANUP_NAME, entry.second, false);
    }
    attached.clear();
    ReleaseHueMutex();
    const int result = m_deviceManager ? m_deviceManager->Stop() : 0;
    KLOG(Common::LOG_INFO, L"%s | END | result = %d", CLEANUP_NAME, result);
    return result;
}
