#include "RequestFields.h"

#include <algorithm>

#include "DeviceHandleMember.h"
#include "JsonInt.h"

using nlohmann::json;

namespace VxKaleoSDKProxy
{

CAddDeviceParams ReadAddDeviceParams(json& request, DeviceKindOf kindOf)
{
    CAddDeviceParams params;
    json& param = request["param"];
    const json& pid = param["pid"];
    if (pid.is_null())
    {
        params.nullMember = EAddDeviceNull::Pid;
        return params;
    }
    params.pid = JsonInt(pid);
    params.kind = kindOf(params.pid);
    switch (params.kind)
    {
    case EDeviceKind::Broadcast:
    case EDeviceKind::PhilipsHue:
    {
        const bool broadcast = params.kind == EDeviceKind::Broadcast;
        const json& number = param[broadcast ? "index" : "id"];
        if (number.is_null())
            params.nullMember = broadcast ? EAddDeviceNull::Index : EAddDeviceNull::Id;
        else
            params.number = JsonInt(number);
        break;
    }
    case EDeviceKind::Hid:
    default:
    {
        const json& containerId = param["containerId"];
        if (containerId.is_null())
            params.nullMember = EAddDeviceNull::ContainerId;
        else
            params.containerId = containerId.get<std::string>();
        break;
    }
    }
    return params;
}

CDeviceStateParams ReadDeviceStateParams(json& request)
{
    CDeviceStateParams params;
    json& param = request["param"];
    const json& enable = param["enable"];
    const json& deviceHandle = param[DEVICE_HANDLE_MEMBER];
    if (enable.is_null())
        return params;
    params.hasEnable = true;
    params.enable = JsonInt(enable);
    if (!deviceHandle.is_null())
    {
        params.hasDeviceHandle = true;
        params.deviceHandle = JsonInt(deviceHandle);
    }
    return params;
}

std::string UnquoteForwarded(const json& message)
{
    std::string text = message.dump();
    text.erase(std::remove(text.begin(), text.end(), '\\'), text.end());
    if (text.find('"') != std::string::npos)
        text.erase(0, 1);
    if (!text.empty() && text.find('"') != std::string::npos)
        text.pop_back();
    return text;
}

} // namespace VxKaleoSDKProxy
