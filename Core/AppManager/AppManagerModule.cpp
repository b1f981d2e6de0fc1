#include "AppManagerModule.h"

#include "LogWriter.h"

namespace
{
CServiceModuleHost<CAppManager>& ModuleHost()
{
    static CServiceModuleHost<CAppManager> s_host;
    return s_host;
}
} // namespace

int AppManagerModuleInit(int context) noexcept
{
    try
    {
        return ModuleHost().Init(context);
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"[AppManager] InitServiceModule failed by an exception");
        return 1;
    }
}

int AppManagerModuleEvent(int) noexcept
{
    // The app manager acts on no service event.
    return 0;
}

int AppManagerModuleUnInit(int context) noexcept
{
    try
    {
        return ModuleHost().UnInit(context);
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"[AppManager] UnInitServiceModule failed by an exception");
        return 1;
    }
}

CAppManager* AppManagerModuleManager() noexcept
{
    auto* module = ModuleHost().Module();
    return module ? &module->Manager() : nullptr;
}
