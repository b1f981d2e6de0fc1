#pragma once
// The handle the host holds for a device: the 32-bit key of the device's
// record (MakeDeviceKey), from the registry path to the "device_handle"
// member of the events. The exports and the JSON texts carry it as a signed
// 32-bit number: keys of 0x80000000 and more travel as negative numbers and
// come back as the same key.
#include <windows.h>

typedef DWORD DEVICE_HANDLE;

// The exports' int parameter and the number of the JSON texts.
constexpr int DeviceHandleToInt(DEVICE_HANDLE deviceHandle) noexcept
{
    return static_cast<int>(deviceHandle);
}

constexpr DEVICE_HANDLE DeviceHandleFromInt(int value) noexcept
{
    return static_cast<DEVICE_HANDLE>(value);
}

static_assert(sizeof(DEVICE_HANDLE) == sizeof(int), "the handle travels as a 32-bit int");
static_assert(DeviceHandleToInt(0x80000000u) < 0 && DeviceHandleFromInt(-1) == 0xFFFFFFFFu,
              "large keys travel as negative numbers and come back unchanged");
