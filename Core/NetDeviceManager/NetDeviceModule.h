#pragma once
// Module-wide state behind the exports of a network device manager. The
// host calls the exports from one thread; events outside Init..UnInit find
// no implementation object and are ignored.
//
// A worker that outlived its stop still runs on the implementation object:
// UnInitServiceModule then keeps the object instead of destroying it (the
// module stays pinned by the worker, and its statics free the object once
// the module is unloaded). A later InitServiceModule starts that same
// manager again, which it refuses while the worker is still busy: a second
// manager would attach the same devices through the same copy files.
#include <windows.h>

#include "LogWriter.h"
#include "ServiceEntry.h"
#include "ServiceModule.h"

namespace NetDevice
{

template <typename TManager>
class CNetDeviceModule
{
public:
    int Init(int context) noexcept
    {
        try
        {
            if (!m_kept)
                return m_host.Init(context);
            m_kept = false;
            return m_host.Module()->Init(context);
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
        if (!module || m_kept)
            return 0;
        TManager& manager = module->Manager();
        switch (code)
        {
        case ServiceHost::SERVICE_EVENT_START:
            manager.Init();
            break;
        case ServiceHost::SERVICE_EVENT_STOP:
        case ServiceHost::SERVICE_EVENT_SHUTDOWN:
            manager.UnInit();
            break;
        case ServiceHost::SERVICE_EVENT_RESTART:
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
            if (m_kept)
                return 0;
            return m_host.UnInit(context, [this](TManager& manager) {
                m_kept = manager.WorkerOutlivesStop();
                if (m_kept)
                    KLOG(Common::LOG_WARN, L"%s | UnInitServiceModule keeps the manager for its busy worker",
                         TManager::ClassName());
                return m_kept;
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
        return module && !m_kept ? &module->Manager() : nullptr;
    }

private:
    CServiceModuleHost<TManager> m_host;
    // The implementation object outlived UnInitServiceModule for its worker.
    bool m_kept = false;
};

} // namespace NetDevice
