#pragma once
// One host's life on its main thread: load the modules, initialise them,
// serve the control pipe, and stop cleanly when asked.
#include <windows.h>
#include "ControlServer.h"
#include "Handles.h"
#include "HostOptions.h"
#include "MainThreadCall.h"
#include "ServiceModules.h"

namespace Host
{

class CHostService : public CHostCommandHandler
{
public:
    explicit CHostService(const CHostOptions& options);
    CHostService(const CHostService&) = delete;
    CHostService& operator=(const CHostService&) = delete;

    // Runs until a stop was requested and done; returns the process's exit
    // code: 0 after a clean stop.
    DWORD Run();

    void Execute(const _HOSTREQUEST& request, _HOSTREPLY& reply) override;
    void Delivered(const _HOSTREQUEST& request) override;

private:
    DWORD Start();
    void SignalReady();
    void ServeMainThread();
    void Describe(_HOSTREPLY& reply) const;

    const CHostOptions& m_options;
    const DWORD m_mainThreadId;
    CServiceModuleSet m_modules;
    CMainThreadCall m_mainCall;
    CControlServer m_server;  // last: its thread uses the members above
    Common::CHandle m_ready;
};

} // namespace Host
