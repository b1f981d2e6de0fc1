#include "IoTDeviceManager.h"

#include <string>

#include "IoTModuleName.h"
#include "LogWriter.h"
#include "NetDeviceNames.h"
#include "RecordText.h"
#include "TextCodec.h"

namespace
{

const CNetModuleSettings kSettings = {
    L"CIoTDeviceManager",
    L"CIoTDeviceManager::DoIoT",
    NetDevice::IOT_SETTINGS_KEY,
    NetDevice::IOT_COMMAND_EVENT,
    2000,
    false,
};

using Common::EqualsNoCase;

bool SameDevice(const Common::IoT::_DEVICEINFOTYPE& a, const Common::IoT::_DEVICEINFOTYPE& b) noexcept
{
    return a.pid == b.pid && EqualsNoCase(a.szMacAddress, b.szMacAddress);
}

void LogDevice(const wchar_t* function, const wchar_t* reason, const wchar_t* which,
               const Common::IoT::_DEVICEINFOTYPE& r) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | %s | %s pid=%d, eid=%d, name=%s, ip=%s, mac=%s, handle=%08llX, serialno=%s",
         function, reason, which, static_cast<int>(r.pid), static_cast<int>(r.eid), r.szDeviceName, r.szIpAddress,
         r.szMacAddress, static_cast<unsigned long long>(r.handle), r.szSerialNumber);
}

} // namespace

CIoTDeviceManager::CIoTDeviceManager() noexcept : CNetDeviceManager(kSettings) {}

// A started manager is destroyed only inside DLL_PROCESS_DETACH, where it
// must not stop as UnInit does: see the frame's destructor.
CIoTDeviceManager::~CIoTDeviceManager() = default;

DWORD CIoTDeviceManager::GetDevicesInfo(const std::wstring& path)
{
    return IoTList::ReadDeviceList(path, m_discovered);
}

bool CIoTDeviceManager::CompareForRemoval(const wchar_t* function, const CRecord& connected,
                                          const CRecord& discovered) noexcept
{
    if (!SameDevice(connected, discovered))
        return false;
    const bool sameIp = EqualsNoCase(connected.szIpAddress, discovered.szIpAddress);
    const bool sameSerial = EqualsNoCase(connected.szSerialNumber, discovered.szSerialNumber);
    if (sameIp && sameSerial)
        return true;
    const wchar_t* reason = !sameIp && !sameSerial ? L"ip and serialno mismatch"
                            : !sameSerial          ? L"serialno mismatch"
                                                   : L"ip mismatch";
    LogDevice(function, reason, L"connected device", connected);
    LogDevice(function, reason, L"discovered device", discovered);
    return false;
}

bool CIoTDeviceManager::IsAlreadyAttached(const wchar_t*, const CRecord& connected,
                                          const CRecord& discovered) noexcept
{
    return SameDevice(connected, discovered) && EqualsNoCase(connected.szIpAddress, discovered.szIpAddress) &&
           EqualsNoCase(connected.szSerialNumber, discovered.szSerialNumber);
}

void CIoTDeviceManager::LogRecord(const wchar_t* function, int32_t index, const CRecord& r) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | i=%d, pid=%d, eid=%d, name=%s, ip=%s, mac=%s, handle=%08llX, serialno=%s",
         function, static_cast<int>(index), static_cast<int>(r.pid), static_cast<int>(r.eid), r.szDeviceName,
         r.szIpAddress, r.szMacAddress, static_cast<unsigned long long>(r.handle), r.szSerialNumber);
}

DWORD CIoTDeviceManager::CheckIdentifier(const wchar_t*, const CRecord& record) noexcept
{
    return record.szMacAddress[0] == L'\0' ? ERROR_INVALID_DATA : ERROR_SUCCESS;
}

std::wstring CIoTDeviceManager::DeviceModuleName(const CRecord& record) const
{
    return IoTList::MakeDeviceModuleName(
        record.pid, std::wstring(record.szMacAddress, ::wcsnlen(record.szMacAddress, Common::DEVICE_TEXT_CHARS)));
}
