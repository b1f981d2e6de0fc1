#pragma once
// "device_handle" in the JSON texts: written as a signed number, read with
// JsonInt (a fraction is cut, a wider number wraps, another type raises the
// library's type error).
#include <nlohmann/json.hpp>

#include "DeviceHandle.h"
#include "DeviceHandleMember.h"
#include "JsonInt.h"

inline nlohmann::json DeviceHandleToJson(DEVICE_HANDLE deviceHandle)
{
    return DeviceHandleToInt(deviceHandle);
}

inline DEVICE_HANDLE DeviceHandleFromJson(const nlohmann::json& value)
{
    return DeviceHandleFromInt(JsonInt(value));
}
