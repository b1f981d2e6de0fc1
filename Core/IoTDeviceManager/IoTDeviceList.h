#pragma once
// The IoT device list file: a length-prefixed scrambled JSON array with
// one object per device.
#include <windows.h>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "ConfigFiles.h"
#include "DeviceInfo.h"
#include "IoTListWalk.h"

namespace IoTList
{

using CRecord = Common::IoT::_DEVICEINFOTYPE;
using CRecordTable = std::unordered_map<int32_t, CRecord>;

constexpr const char* CONFIG_KEY = NetDevice::IOT_CONFIG_KEY;

// Reads and unscrambles the list, always logs it in pieces, and stores the
// k-th element's record under key k, up to the first null element. Logs as
// "CIoTDeviceManager::GetDevicesInfo". 0, 87 (empty path), 13 (file
// missing, unreadable or with length 0), 5930 (not a JSON array or null, a
// bad length field, nested too deeply, more than MAX_LISTED_DEVICES
// devices); `discovered` changes only on 0. A device with a text of 260
// characters or more is logged and stored as an all-zero record.
DWORD ReadDeviceList(const std::wstring& path, CRecordTable& discovered) noexcept;

} // namespace IoTList
