#include "DeviceManagerNative.h"

#include <new>

#include "DeviceDerivation.h"
#include "DeviceKeys.h"
#include "LogWriter.h"

using Common::CSrwLock;


bool CDeviceManagerNative::BuildRecord(const std::wstring& path, const std::wstring& containerId,
                                       const CCatalogSnapshot& catalog, DeviceRecord& record) const
{
    DeviceIdentity::CDerivedDevice device;
    DeviceIdentity::DeriveDevice(path, catalog, device);
    if (device.noRecord != 0)
        return false;
    record.devicePath = device.devicePath;
    record.pluginPath = device.pluginPath;
    record.objectName = device.objectName;
    record.containerGuid = device.containerGuid;
    record.containerId = containerId;
    record.pid = device.pid;
    record.pipeName = device.pipeName;
    return true;
}

DWORD CDeviceManagerNative::AddDevice(const std::wstring& path, const std::wstring& containerId) noexcept
{
    const auto catalog = m_catalog.Current();
    if (!catalog)
        return ERROR_FUNCTION_FAILED;
    CScan scan{*catalog, {}};
    return AddDevice(path, containerId, scan);
}

DWORD CDeviceManagerNative::AddDevice(const std::wstring& path, const std::wstring& containerId, CScan& scan) noexcept
{
    const CCatalogSnapshot& catalog = scan.catalog;
    if (catalog.status != ERROR_SUCCESS)
        return ERROR_FUNCTION_FAILED;
    DEVICE_HANDLE deviceHandle = 0;
    if (!DeviceIdentity::MakeDeviceKey(path.c_str(), deviceHandle))
        return ERROR_FUNCTION_FAILED;
    {
        // Most adds of a rescan meet a device already known: settle those
        // before building a record. The insertion below decides for good.
        CSrwLock::CScopedLock lock(m_tableLock);
        if (m_records.count(deviceHandle) != 0)
            return ERROR_FUNCTION_FAILED;
    }
    try
    {
        DeviceRecord record;
        if (!BuildRecord(path, containerId, catalog, record))
            return ERROR_FUNCTION_FAILED;
        {
            // Lookup and insertion under one lock: a device added by several
            // threads at once gets one record.
            CSrwLock::CScopedLock lock(m_tableLock);
            if (!m_records.emplace(deviceHandle, record).second)
                return ERROR_FUNCTION_FAILED;
        }
        KLOG_BATCH(scan.log, Common::LOG_INFO, L"%s | SUCCESS | %s %s", L"CDeviceManagerNative::AddDevice", record.devicePath.c_str(),
             record.containerId.c_str());
        return ERROR_SUCCESS;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_FUNCTION_FAILED;
    }
}

DWORD CDeviceManagerNative::RemoveDevice(const std::wstring& path) noexcept
{
    DEVICE_HANDLE deviceHandle = 0;
    if (!DeviceIdentity::MakeDeviceKey(path.c_str(), deviceHandle))
        return ERROR_FUNCTION_FAILED;
    CSrwLock::CScopedLock lock(m_tableLock);
    return m_records.erase(deviceHandle) == 1 ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

DeviceTable CDeviceManagerNative::CopyRecords() const
{
    CSrwLock::CScopedLock lock(m_tableLock);
    return m_records;
}

size_t CDeviceManagerNative::RecordCount() const noexcept
{
    CSrwLock::CScopedLock lock(m_tableLock);
    return m_records.size();
}
