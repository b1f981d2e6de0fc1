#pragma once
// The smart-lighting configuration file: the first Hue bridge it names,
// as one device record.
#include <windows.h>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "ConfigFiles.h"
#include "DeviceInfo.h"

namespace HueBridge
{

using CRecord = Common::SmartLighting::_DEVICEINFOTYPE;
using CRecordTable = std::unordered_map<int32_t, CRecord>;

constexpr int32_t HUE_BRIDGE_PID = 769;  // 0x0301
constexpr const char* CONFIG_KEY = NetDevice::SMARTLIGHTING_CONFIG_KEY;

// Reads and unscrambles the file, logs it in pieces when debug is 1, and
// stores the first bridge under key discovered.size(). Logs its lines as
// "CSmartlightingDeviceManager::GetDevicesInfo". 0, 87 (empty path), 13
// (file missing, unreadable or empty), 5930 (not the expected JSON, a
// value of 260 characters or more, a file above 16 MiB or nested too
// deeply); `discovered` changes only on 0, and not when the bridge's "Id"
// is empty (logged as "Internal Error").
DWORD ReadBridgeConfiguration(const std::wstring& path, DWORD debug, CRecordTable& discovered) noexcept;

} // namespace HueBridge
