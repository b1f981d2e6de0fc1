#pragma once
// Device keys (the handles the host sees), object and pipe names, and the
// device paths built for the sources that publish no path of their own.
// Pure functions, shared by the proxy and the publisher stand-in.
#include <windows.h>
#include <string>

#include "DeviceHandle.h"

namespace DeviceIdentity
{

// The 32-bit key of a device path, the device's handle. Special kinds (Hue
// bulb, broadcast applications) go through MakeSpecialDeviceKey; any other
// path reads a part of its instance text as hexadecimal. False, with
// `deviceHandle` untouched, when that text does not read as a number: such a
// device gets no record.
bool MakeDeviceKey(const wchar_t* path, DEVICE_HANDLE& deviceHandle);

// "%x%s" of the kind's pid and the number after the object text, read as
// decimal (Hue bulb 5: 3015). False when the path names no special kind or
// the number does not fit 32 bits.
bool MakeSpecialDeviceKey(const wchar_t* path, DEVICE_HANDLE& deviceHandle);

// The kind's pipe base followed by the device's number; empty when the
// path names no special kind.
std::wstring MakeSpecialPipeName(const wchar_t* path);

// "\\?\HID#VID_2F1A&<product>#<instance>#", the instance made of the id
// padded with "F" or cut to 14 characters. 0; ERROR_UNKNOWN_PRODUCT (1605)
// for an empty product, ERROR_INVALID_HANDLE (6) for an empty id; `path`
// is emptied on failure.
DWORD MakeIoTDevicePath(const std::wstring& product, const std::wstring& deviceId, std::wstring& path);

// "\\?\<bus>#<hardware id>#<instance id>#".
std::wstring MakeBusDevicePath(const std::wstring& bus, const std::wstring& hardwareId,
                               const std::wstring& instanceId);
// "\\?\hid#vid_2f1a&pid_0301#{...}<bulb>#".
std::wstring MakeHueBulbPath(LONG bulbId);
// "\\?\hid#vid_2f1a&pid_0<pid>#{...}<index>#" for pid 770 or 818; empty
// for any other pid.
std::wstring MakeBroadcastPath(DWORD pid, LONG index);

// Data pipe of a bus or IoT device: the upper-case path with each "?"
// replaced by ".\pipe".
std::wstring MakeBusPipeName(const std::wstring& upperPath);

} // namespace DeviceIdentity
