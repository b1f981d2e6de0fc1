#pragma once
// The IoT device list file: a length-prefixed scrambled JSON array with
// one object per device.
#include <windows.h>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "DeviceInfo.h"

namespace IoTList
{

using CRecord = Common::IoT::_DEVICEINFOTYPE;
using CRecordTable = std::unordered_map<int32_t, CRecord>;

constexpr char CONFIG_KEY[] = "Qd0x7E4BWtr";

// Reads and unscrambles the list, always logs it in pieces, and stores the
// k-th element's record under key k, up to the first null element. Logs as
// "CIoTDeviceManager::GetDevicesInfo". 0, 87 (empty path), 13 (file
// missing, unreadable or with length 0), 5930 (not a JSON array, or a bad
// length field); `discovered` changes only on 0.
DWORD ReadDeviceList(const std::wstring& path, CRecordTable& discovered) noexcept;

} // namespace IoTList
