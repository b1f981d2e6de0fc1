#include "SmartlightingModule.h"

#include "NetDeviceModule.h"

namespace
{
NetDevice::CNetDeviceModule<CSmartlightingDeviceManager>& Module()
{
    static NetDevice::CNetDeviceModule<CSmartlightingDeviceManager> s_module;
    return s_module;
}
} // namespace

int SmartlightingModuleInit(int context) noexcept
{
    return Module().Init(context);
}

int SmartlightingModuleEvent(int eventCode) noexcept
{
    return Module().Event(eventCode);
}

int SmartlightingModuleUnInit(int context) noexcept
{
    return Module().UnInit(context);
}

CSmartlightingDeviceManager* SmartlightingModuleManager() noexcept
{
    return Module().Manager();
}
