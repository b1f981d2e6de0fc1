#pragma once
// The service-module objects the host drives through the three exports.
#include <windows.h>
#include <memory>

class CServiceModule
{
public:
    virtual ~CServiceModule() = default;
    virtual int Init(int context) = 0;
    virtual int UnInit(int context) = 0;
    virtual HRESULT OnEvent() = 0;
};

// Implementation object of one module, holding its manager by value.
template <typename TManager>
class CServiceModuleImpl : public CServiceModule
{
public:
    int Init(int) override
    {
        m_manager.Init();
        return 0;
    }

    int UnInit(int) override
    {
        m_manager.UnInit();
        return 0;
    }

    HRESULT OnEvent() override { return E_NOTIMPL; }

    TManager& Manager() { return m_manager; }

private:
    TManager m_manager;
};

// Module-wide lifecycle behind the exports. Not thread-safe by contract:
// the host makes these calls from its own thread.
template <typename TManager>
class CServiceModuleHost
{
public:
    int Init(int context)
    {
        if (m_module)
            return 0;
        try
        {
            m_module = std::make_unique<CServiceModuleImpl<TManager>>();
        }
        catch (...)
        {
            m_module.reset();
        }
        if (!m_module)
            return 1;
        m_module->Init(context);
        return m_module ? 0 : 1;
    }

    int UnInit(int context)
    {
        return UnInit(context, [](TManager&) { return false; });
    }

    // The same for a manager whose threads may outlive its stop: when
    // `keep(manager)` says one still runs on it, the implementation object
    // is kept instead of destroyed.
    template <typename TKeep>
    int UnInit(int context, TKeep keep)
    {
        if (!m_module)
            return 0;
        const int result = m_module->UnInit(context);
        if (result == 0 && !keep(m_module->Manager()))
            m_module.reset();
        return result;
    }

    CServiceModuleImpl<TManager>* Module() { return m_module.get(); }

private:
    std::unique_ptr<CServiceModuleImpl<TManager>> m_module;
};
