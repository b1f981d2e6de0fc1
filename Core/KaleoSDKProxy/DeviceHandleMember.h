#pragma once
// The name of the device handle in the JSON texts (see DeviceHandleJson.h),
// free of any system header for the parts that are also built natively.
constexpr char DEVICE_HANDLE_MEMBER[] = "device_handle";
