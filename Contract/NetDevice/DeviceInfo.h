#pragma once
// The record of one network device, as the device managers keep it and hand
// it by value to a plug-in's Init. Two layouts share the first nine fields:
// the smart-lighting one ends after `index`, the IoT one adds `handle`.
//
// `hModule` is stored as a 32-bit integer rather than an HMODULE: the record
// crosses into 32-bit plug-ins, where the field is a 4-byte module handle,
// and a fixed-width type keeps the layout (and the asserts below) identical
// in every build. The managers keep the real handle beside the record; the
// field says only whether the device is attached (ModuleTag).
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace Common
{

// Text fields: NUL-terminated, at most 259 characters, zero-filled after.
constexpr size_t DEVICE_TEXT_CHARS = 260;

namespace SmartLighting
{

struct _DEVICEINFOTYPE
{
    uint32_t hModule;                        // plug-in copy; 0 until attached
    wchar_t szModulePath[DEVICE_TEXT_CHARS]; // path of the plug-in copy
    wchar_t szId[DEVICE_TEXT_CHARS];         // bridge "Id"
    wchar_t szName[DEVICE_TEXT_CHARS];       // bridge "Name"
    wchar_t szIpAddress[DEVICE_TEXT_CHARS];  // bridge "IpAddress"
    wchar_t szGroupInfo[DEVICE_TEXT_CHARS];  // "LightChannels" and "SelectedGroup" as JSON
    int32_t pid;
    int32_t eid;
    int32_t index;                           // index in the connected table
};

static_assert(sizeof(wchar_t) == 2, "texts are UTF-16");
static_assert(offsetof(_DEVICEINFOTYPE, hModule) == 0, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szModulePath) == 4, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szId) == 524, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szName) == 1044, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szIpAddress) == 1564, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szGroupInfo) == 2084, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, pid) == 2604, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, eid) == 2608, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, index) == 2612, "layout");
static_assert(sizeof(_DEVICEINFOTYPE) == 2616, "smart-lighting record is 2616 bytes");
static_assert(alignof(_DEVICEINFOTYPE) == 4, "smart-lighting record has 4-byte alignment");
static_assert(std::is_trivially_copyable<_DEVICEINFOTYPE>::value && std::is_standard_layout<_DEVICEINFOTYPE>::value,
              "passed by value across the plug-in boundary");

} // namespace SmartLighting

namespace IoT
{

struct alignas(8) _DEVICEINFOTYPE
{
    uint32_t hModule;                          // plug-in copy; 0 until attached
    wchar_t szModulePath[DEVICE_TEXT_CHARS];   // path of the plug-in copy
    wchar_t szDeviceName[DEVICE_TEXT_CHARS];   // "device_name"
    wchar_t szMacAddress[DEVICE_TEXT_CHARS];   // "mac_address"
    wchar_t szIpAddress[DEVICE_TEXT_CHARS];    // "ip_address"
    wchar_t szSerialNumber[DEVICE_TEXT_CHARS]; // "serial_number"
    int32_t pid;
    int32_t eid;
    int32_t index;                             // index in the connected table
    uint64_t handle;                           // "handle"
};

static_assert(offsetof(_DEVICEINFOTYPE, hModule) == 0, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szModulePath) == 4, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szDeviceName) == 524, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szMacAddress) == 1044, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szIpAddress) == 1564, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, szSerialNumber) == 2084, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, pid) == 2604, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, eid) == 2608, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, index) == 2612, "layout");
static_assert(offsetof(_DEVICEINFOTYPE, handle) == 2616, "layout: no gap before handle");
static_assert(sizeof(_DEVICEINFOTYPE) == 2624, "IoT record is 2624 bytes");
static_assert(alignof(_DEVICEINFOTYPE) == 8, "IoT record has 8-byte alignment");
static_assert(std::is_trivially_copyable<_DEVICEINFOTYPE>::value && std::is_standard_layout<_DEVICEINFOTYPE>::value,
              "passed by value across the plug-in boundary");

} // namespace IoT

// The value the record's `hModule` takes for a loaded copy: the handle itself
// where it fits in 32 bits, else its low half, and never 0, which means "not
// attached". Nothing converts it back: a 64-bit handle does not fit.
inline uint32_t ModuleTag(HMODULE module) noexcept
{
    const auto value = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(module));
    return value != 0 || module == nullptr ? value : 1u;
}

} // namespace Common
