// The two device requests of Invoke: "AddDevice" and "SetDeviceState".
// Numbers are read with the JSON library's integer conversion; a member of
// the wrong type raises its type error, which Invoke reports.
#include "KaleoSDKNative.h"

#include "DeviceHandleJson.h"
#include "DeviceSources.h"
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

bool IsBroadcastPid(int pid)
{
    return pid == static_cast<int>(DeviceSources::PID_BROADCAST_770) ||
           pid == static_cast<int>(DeviceSources::PID_BROADCAST_818);
}

} // namespace

json CKaleoSDKNative::HandleAddDevice(json request)
{
    json response = DefaultResponse();
    json& param = request["param"];
    const json& pidValue = param["pid"];
    if (pidValue.is_null())
    {
        SetOutcome(response, "param pid is null", ERROR_INVALID_PARAMETER);
        return response;
    }
    const int pid = pidValue.get<int>();
    DEVICE_HANDLE deviceHandle = 0;
    DWORD rc = ERROR_SUCCESS;
    if (IsBroadcastPid(pid))
    {
        const json& index = param["index"];
        if (index.is_null())
        {
            SetOutcome(response, "param index is null", ERROR_INVALID_INDEX);
            return response;
        }
        rc = AddKaleoConnectDevice(pid, index.get<int>(), deviceHandle);
        if (rc != ERROR_SUCCESS)
            SetOutcome(response, "error on AddKaleoConnectDevice", rc);
    }
    else if (pid == static_cast<int>(DeviceSources::PID_PHILIPS_HUE))
    {
        const json& id = param["id"];
        if (id.is_null())
        {
            SetOutcome(response, "param id is null", ERROR_INVALID_DATA);
            return response;
        }
        rc = AddPhilipsHueDevice(pid, id.get<int>(), deviceHandle);
        if (rc != ERROR_SUCCESS)
            SetOutcome(response, "error on AddPhilipshueDevice", rc);
    }
    else
    {
        const json& containerId = param["containerId"];
        if (containerId.is_null())
        {
            SetOutcome(response, "param containerId is null", ERROR_INVALID_PARAMETER);
            return response;
        }
        rc = AddHIDDevice(pid, TextCodec::AnsiToWide(containerId.get<std::string>()), deviceHandle);
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
    json& param = request["param"];
    const json& enableValue = param["enable"];
    const json& handleValue = param[DEVICE_HANDLE_MEMBER];
    if (enableValue.is_null())
    {
        SetOutcome(response, "param is invalid", ERROR_INVALID_PARAMETER);
        return response;
    }
    const LONG enable = enableValue.get<int>();
    DWORD rc = ERROR_FUNCTION_FAILED;
    if (handleValue.is_null())
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
        rc = SetDeviceEnabled(DeviceHandleFromJson(handleValue), enable);
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
