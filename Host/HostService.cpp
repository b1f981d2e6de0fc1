// One host's life on its main thread; see HostService.h.
#include "HostService.h"

#include "HostControl.h"
#include "HostOutput.h"
#include "ReplyText.h"
#include "StopSignal.h"

namespace Host
{

CHostService::CHostService(const CHostOptions& options)
    : m_options(options), m_mainThreadId(::GetCurrentThreadId()), m_server(*this)
{
}

DWORD CHostService::Run()
{
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Starting %s, pid %lu", m_options.m_name.c_str(),
                ::GetCurrentProcessId());
    DWORD status = Start();
    if (status != ERROR_SUCCESS)
    {
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Start failed | error = %lu", status);
        return status;
    }
    ServeMainThread();
    m_server.Stop();
    status = m_modules.StopAll();
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Stopped");
    return status;
}

DWORD CHostService::Start()
{
    DWORD status = m_mainCall.Create();
    if (status != ERROR_SUCCESS)
        return status;
    // Every module loads before any is initialised: a bad list then
    // leaves nothing half started.
    status = m_modules.LoadAll(m_options.m_modules);
    if (status != ERROR_SUCCESS)
        return status;
    const std::wstring pipeName = HostPipeName(m_options.m_name);
    status = m_server.Create(pipeName);
    if (status != ERROR_SUCCESS)
    {
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Cannot create %s | error = %lu",
                    pipeName.c_str(), status);
        return status;  // the modules unload with the set
    }
    m_modules.InitAll();
    status = m_server.Start();
    if (status != ERROR_SUCCESS)
    {
        m_modules.StopAll();
        return status;
    }
    HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Listening on %s", pipeName.c_str());
    SignalReady();
    return ERROR_SUCCESS;
}

void CHostService::SignalReady()
{
    if (m_options.m_readyEvent.empty())
        return;
    // Kept open until the host ends, so a late waiter still finds it set.
    m_ready.Reset(::CreateEventW(nullptr, TRUE, FALSE, m_options.m_readyEvent.c_str()));
    if (!m_ready || !::SetEvent(m_ready.Get()))
        HOST_REPORT(Common::LOG_WARN, L"[VxSvcHost] Cannot set the ready event %s | error = %lu",
                    m_options.m_readyEvent.c_str(), ::GetLastError());
}

void CHostService::ServeMainThread()
{
    HANDLE waits[2] = {StopRequestedEvent(), m_mainCall.PendingEvent()};
    for (;;)
    {
        const DWORD wait = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0 + 1)
        {
            m_mainCall.RunPending();
            continue;
        }
        if (wait != WAIT_OBJECT_0)
            HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Main thread wait failed | error = %lu",
                        ::GetLastError());
        return;
    }
}

void CHostService::Describe(_HOSTREPLY& reply) const
{
    AppendReplyText(reply, L"VxSvcHost %s, pid %lu, %u module(s)", m_options.m_name.c_str(),
                    ::GetCurrentProcessId(), static_cast<unsigned>(m_modules.Count()));
    m_modules.Describe(reply);
}

void CHostService::Execute(const _HOSTREQUEST& request, _HOSTREPLY& reply)
{
    reply.mainThreadId = m_mainThreadId;
    switch (request.command)
    {
    case HOST_CMD_STATUS:
        Describe(reply);
        reply.status = ERROR_SUCCESS;
        break;
    case HOST_CMD_STOP:
        AppendReplyText(reply, L"Stopping: ");
        Describe(reply);
        reply.status = ERROR_SUCCESS;
        break;
    case HOST_CMD_EVENT:
    {
        const DWORD code = request.argument;
        reply.status = m_mainCall.Invoke([this, code, &reply]() { m_modules.EventAll(code, reply); },
                                         m_server.StopEvent());
        if (reply.status != ERROR_SUCCESS)
            AppendReplyText(reply, L"Stopping: event %lu not delivered", code);
        break;
    }
    default:
        reply.status = ERROR_INVALID_PARAMETER;
        AppendReplyText(reply, L"Unknown command %lu", request.command);
        break;
    }
}

void CHostService::Delivered(const _HOSTREQUEST& request)
{
    if (request.command == HOST_CMD_STOP)
        RequestStop(L"control pipe");
}

} // namespace Host
