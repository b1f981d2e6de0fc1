#include "KaleoSDKNative.h"

#include "DeviceSources.h"
#include "LogWriter.h"
#include "Registry.h"

using Common::CSrwLock;

namespace
{

std::atomic<CKaleoSDKNative*> g_instance{nullptr};

} // namespace

CKaleoSDKNative::CKaleoSDKNative()
{
    m_switches = std::make_shared<CReaderSwitches>();
    m_deviceManager = std::make_unique<CDeviceManagerNative>();
    DWORD debug = 0;
    if (Common::RegGetDword(DeviceSources::DEVICES_KEY, DeviceSources::DEBUG_PROXY_VALUE, debug) == ERROR_SUCCESS)
        m_switches->debugProxy = debug;
    m_switches->enabled = 1;
    // Published last: a constructor that throws leaves no pointer behind.
    g_instance = this;
}

CKaleoSDKNative::~CKaleoSDKNative()
{
    // Normally Cleanup has detached everything. Devices still attached (an
    // instance destroyed without Cleanup) get their readers stopped; each
    // is waited for as a detach waits, since none of them uses this object.
    std::unordered_map<DWORD, DeviceRecord> left;
    {
        CSrwLock::CScopedLock lock(m_lock);
        left.swap(m_devices);
    }
    for (auto& entry : left)
    {
        CAttachment& attachment = *entry.second.attachment;
        attachment.shutdownFlag = 1;
        if (attachment.shutdownEvent)
            ::SetEvent(attachment.shutdownEvent.Get());
        attachment.readerThread.Join(READER_STOP_WAIT_MS);
    }
    m_deviceManager.reset();
    CKaleoSDKNative* self = this;
    g_instance.compare_exchange_strong(self, nullptr);
}

CKaleoSDKNative* CKaleoSDKNative::Instance() noexcept
{
    return g_instance;
}

size_t CKaleoSDKNative::AttachedCount() const noexcept
{
    CSrwLock::CScopedLock lock(m_lock);
    return m_devices.size();
}

bool CKaleoSDKNative::IsAttached(DEVICE_HANDLE deviceHandle) const noexcept
{
    CSrwLock::CScopedLock lock(m_lock);
    return m_devices.find(deviceHandle) != m_devices.end();
}

bool CKaleoSDKNative::HoldsHueMutex() const noexcept
{
    return m_hueMutex.IsValid();
}
