#pragma once
// Module-wide state behind the exports of a network device manager. The
// host calls the exports from one thread; events outside Init..UnInit find
// no implementation object and are ignored.
#include <windows.h>

#include "LogWriter.h"
#include "ServiceModule.h"

namespace NetDevice
{

enum : int
{
    SERVICE_EVENT_START = 1,
    SERVICE_EVENT_STOP = 2,
    SERVICE_EVENT_SHUTDOWN = 3,
    SERVICE_EVENT_RESTART = 10,
};

template <typename TManager>
class CNetDeviceModule
{
public:
    int Init(int context) noexcept
    {
        try
        {
            return m_host.Init(context);
        }
        catch (...)
        {
            KLOG(Common::LOG_ERROR, L"%s | InitServiceModule failed by an exception", TManager::ClassName());
            return 1;
        }
    }

    int Event(int code) noexcept
    {
        auto* module = m_host.Module();
        if (!module)
            return 0;
        TManager& manager = module->Manager();
        switch (code)
        {
        case SERVICE_EVENT_START:
            manager.Init();
            break;
        case SERVICE_EVENT_STOP:
        case SERVICE_EVENT_SHUTDOWN:
            manager.UnInit();
            break;
        case SERVICE_EVENT_RESTART:
            manager.UnInit();
            manager.Init();
            break;
        default:
            break;
        }
        return 0;
    }

    int UnInit(int context) noexcept
    {
        try
        {
            // A worker that outlived the stop still runs on the manager: the
            // implementation object is left to it, never destroyed.
            return m_host.UnInit(context, [](TManager& manager) {
                if (!manager.WorkerOutlivesStop())
                    return false;
                KLOG(Common::LOG_WARN, L"%s | UnInitServiceModule leaves the manager to its busy worker",
                     TManager::ClassName());
                return true;
            });
        }
        catch (...)
        {
            KLOG(Common::LOG_ERROR, L"%s | UnInitServiceModule failed by an exception", TManager::ClassName());
            return 1;
        }
    }

    // The running manager, or null; for tests.
    TManager* Manager() noexcept
    {
        auto* module = m_host.Module();
        return module ? &module->Manager() : nullptr;
    }

private:
    CServiceModuleHost<TManager> m_host;
};

} // namespace NetDevice
