#include "IoTModule.h"

#include "NetDeviceModule.h"

namespace
{
NetDevice::CNetDeviceModule<CIoTDeviceManager>& Module()
{
    static NetDevice::CNetDeviceModule<CIoTDeviceManager> s_module;
    return s_module;
}
} // namespace

int IoTModuleInit(int context) noexcept
{
    return Module().Init(context);
}

int IoTModuleEvent(int eventCode) noexcept
{
    return Module().Event(eventCode);
}

int IoTModuleUnInit(int context) noexcept
{
    return Module().UnInit(context);
}

CIoTDeviceManager* IoTModuleManager() noexcept
{
    return Module().Manager();
}
