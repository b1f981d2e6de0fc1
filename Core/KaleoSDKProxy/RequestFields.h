#pragma once
// The members the proxy reads from a request, apart from what it does with
// them: the "param" of "AddDevice" and of "SetDeviceState", and the request
// text a forwarded "message" holds. Free of any system header so that it is
// also built natively, where the fuzzers run it. Numbers are read as
// JsonInt reads them; a member of the wrong type raises the JSON library's
// type error.
#include <string>
#include <nlohmann/json.hpp>

namespace VxKaleoSDKProxy
{

enum class EDeviceKind
{
    Broadcast,   // "index" names the application
    PhilipsHue,  // "id" names the bulb
    Hid,         // "containerId" names the device
};
using DeviceKindOf = EDeviceKind (*)(int pid);

// The member found null (or absent), which ends the read.
enum class EAddDeviceNull
{
    None,
    Pid,
    Index,
    Id,
    ContainerId,
};

struct CAddDeviceParams
{
    EAddDeviceNull nullMember = EAddDeviceNull::None;
    int pid = 0;
    EDeviceKind kind = EDeviceKind::Hid;
    int number = 0;           // "index" or "id"
    std::string containerId;  // 8-bit, as the request holds it
};

// "param"."pid", then the member its kind of device needs.
CAddDeviceParams ReadAddDeviceParams(nlohmann::json& request, DeviceKindOf kindOf);

struct CDeviceStateParams
{
    bool hasEnable = false;        // "enable" null: nothing else is read
    int enable = 0;
    bool hasDeviceHandle = false;  // "device_handle" null: the global switch
    int deviceHandle = 0;
};

CDeviceStateParams ReadDeviceStateParams(nlohmann::json& request);

// The request text a forwarded "message" holds: its serialisation with
// every backslash deleted, then the first character and the last one
// deleted while the text holds a double quote (the quotes of a string).
std::string UnquoteForwarded(const nlohmann::json& message);

} // namespace VxKaleoSDKProxy
