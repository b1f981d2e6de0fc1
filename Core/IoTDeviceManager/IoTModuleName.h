#pragma once
// File name of an IoT device's plug-in copy:
// "2F1A" + pid as 4+ upper-case hex digits + "-00FF-FFFF-0000-" + the MAC
// address without ":" and "-", upper case, + ".mod". Throws
// std::runtime_error when the address cannot be converted to the thread's
// ANSI code page, std::bad_alloc.
#include <cstdint>
#include <string>

namespace IoTList
{

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& macAddress);

} // namespace IoTList
