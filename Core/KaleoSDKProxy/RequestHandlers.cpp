// The two device requests of Invoke: "AddDevice" and "SetDeviceState".
// Their members are read by RequestFields; a member of the wrong type
// raises the JSON library's type error, which Invoke reports.
#include "KaleoSDKNative.h"

#include "DeviceHandleJson.h"
#include "DeviceSources.h"
#include "RequestFields.h"
#include "TextCodec.h"

using nlohmann::json;
using Common::CSrwLock;

namespace
{

json DefaultResponse()
{
    return json{{"message", "ERROR_FUNCTION_FAILED"}, {"result", ERROR_FUNCTION_FAILED}, {"return", nullptr}};
}

void SetOutcome(json& response, const char* message, DWORD result)
{
    response["message"] = message;
    response["result"] = result;
}

VxKaleoSDKProxy::EDeviceKind DeviceKindOf(int pid)
{
    if (pid == static_cast<int>(DeviceSources::PID_BROADCAST_770) ||
        pid == static_cast<int>(DeviceSources::PID_BROADCAST_818))
        return VxKaleoSDKProxy::EDeviceKind::Broadcast;
    if (pid == static_cast<int>(DeviceSources::PID_PHILIPS_HUE))
        return VxKaleoSDKProxy::EDeviceKind::PhilipsHue;
    return VxKaleoSDKProxy::EDeviceKind::Hid;
}

// The answer to a null member of "AddDevice".
void SetNullOutcome(json& response, VxKaleoSDKProxy::EAddDeviceNull member)
{
    using VxKaleoSDKProxy::EAddDeviceNull;
    switch (member)
    {
    case EAddDeviceNull::Pid:
        SetOutcome(response, "param pid is null", ERROR_INVALID_PARAMETER);
        break;
    case EAddDeviceNull::Index:
        SetOutcome(response, "param index is null", ERROR_INVALID_INDEX);
        break;
    case EAddDeviceNull::Id:
        SetOutcome(response, "param id is null", ERROR_INVALID_DATA);
        break;
    case EAddDeviceNull::ContainerId:
    default:
        SetOutcome(response, "param containerId is null", ERROR_INVALID_PARAMETER);
        break;
    }
}

} // namespace

json CKaleoSDKNative::HandleAddDevice(json request)
{
    using VxKaleoSDKProxy::EDeviceKind;
    json response = DefaultResponse();
    const VxKaleoSDKProxy::CAddDeviceParams params = VxKaleoSDKProxy::ReadAddDeviceParams(request, &DeviceKindOf);
    if (params.nullMember != VxKaleoSDKProxy::EAddDeviceNull::None)
    {
        SetNullOutcome(response, params.nullMember);
        return response;
    }
    DEVICE_HANDLE deviceHandle = 0;
    DWORD rc = ERROR_SUCCESS;
    if (params.kind == EDeviceKind::Broadcast)
    {
        rc = AddKaleoConnectDevice(params.pid, params.number, deviceHandle);
        if (rc != ERROR_SUCCESS)
            SetOutcome(response, "error on AddKaleoConnectDevice", rc);
    }
    else if (params.kind == EDeviceKind::PhilipsHue)
    {
        rc = AddPhilipsHueDevice(params.pid, params.number, deviceHandle);
        if (rc != ERROR_SUCCESS)
            SetOutcome(response, "error on AddPhilipshueDevice", rc);
    }
    else
    {
        rc = AddHIDDevice(params.pid, TextCodec::AnsiToWide(params.containerId), deviceHandle);
        if (rc != ERROR_SUCCESS)
            SetOutcome(response, "error on AddHIDDevice", rc);
    }
    if (rc == ERROR_SUCCESS)
    {
        SetOutcome(response, "SUCCESS", ERROR_SUCCESS);
        response["return"] = json{{DEVICE_HANDLE_MEMBER, DeviceHandleToJson(deviceHandle)}};
    }
    return response;
}

json CKaleoSDKNative::HandleSetDeviceState(json request)
{
    json response = DefaultResponse();
    const VxKaleoSDKProxy::CDeviceStateParams params = VxKaleoSDKProxy::ReadDeviceStateParams(request);
    if (!params.hasEnable)
    {
        SetOutcome(response, "param is invalid", ERROR_INVALID_PARAMETER);
        return response;
    }
    const LONG enable = params.enable;
    DWORD rc = ERROR_FUNCTION_FAILED;
    if (!params.hasDeviceHandle)
    {
        // The global switch: only a change counts as success. Requests come
        // from the host's one thread; the readers only read it.
        if (m_switches->enabled != enable)
        {
            m_switches->enabled = enable;
            rc = ERROR_SUCCESS;
        }
    }
    else
        rc = SetDeviceEnabled(DeviceHandleFromInt(params.deviceHandle), enable);
    if (rc == ERROR_SUCCESS)
        SetOutcome(response, "SUCCESS", ERROR_SUCCESS);
    else
        SetOutcome(response, "error on SetEnable", rc);
    return response;
}

DWORD CKaleoSDKNative::SetDeviceEnabled(DEVICE_HANDLE deviceHandle, LONG enable) noexcept
{
    CSrwLock::CScopedLock lock(m_lock);
    if (m_devices.empty())
        return ERROR_FUNCTION_FAILED;
    const auto it = m_devices.find(deviceHandle);
    if (it == m_devices.end())
        return ERROR_NOT_FOUND;
    it->second.attachment->enabled = enable;
    return ERROR_SUCCESS;
}
