#include "DeviceManagerNative.h"

#include <new>

#include "CatalogMatch.h"
#include "DeviceIdentity.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "LogWriter.h"

using Common::CSrwLock;


bool CDeviceManagerNative::BuildRecord(const std::wstring& path, const std::wstring& containerId, DWORD pid,
                                       const CCatalogSnapshot& catalog, DeviceRecord& record) const
{
    const Common::CCatalogEntry* entry = DeviceIdentity::FindCatalogEntry(catalog.entries, pid);
    if (!entry)
        return false;
    record.devicePath = DeviceIdentity::ToUpper(path.c_str());
    record.pluginPath = Common::MakePluginPath(catalog.installPath, entry->file);
    record.objectName = DeviceIdentity::ExtractInstanceId(path.c_str());
    record.containerGuid = DeviceIdentity::MakeContainerGuid(path.c_str());
    record.containerId = containerId;
    record.pid = pid;
    record.pipeName = DeviceSources::IsSpecialPid(pid) ? DeviceIdentity::MakeSpecialPipeName(path.c_str())
                                                       : DeviceIdentity::MakeBusPipeName(record.devicePath);
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
        const DWORD pid = static_cast<DWORD>(DeviceIdentity::ParseProductId(path.c_str()));
        DeviceRecord record;
        if (!BuildRecord(path, containerId, pid, catalog, record))
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
