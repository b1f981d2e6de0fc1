// VxSvcHost.exe: loads service modules, drives them through their three
// exports, and takes commands on its control pipe until it is stopped.
#include <windows.h>
#include <shellapi.h>

#include "Handles.h"
#include "HostOptions.h"
#include "HostOutput.h"
#include "HostService.h"
#include "StopSignal.h"

namespace
{

DWORD RunHostProcess()
{
    int argc = 0;
    Common::CLocalMem argMemory;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    argMemory.Reset(reinterpret_cast<HLOCAL>(argv));
    if (argv == nullptr)
        return ::GetLastError();

    Host::CHostOptions options;
    std::wstring reason;
    DWORD status = Host::ParseHostOptions(argc, argv, options, reason);
    if (status != ERROR_SUCCESS)
    {
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Bad command line: %s", reason.c_str());
        Host::PrintLine(Host::HostUsage());
        return status;
    }
    if (options.m_help)
    {
        Host::PrintLine(Host::HostUsage());
        return ERROR_SUCCESS;
    }

    status = Host::InstallStopSignal();
    if (status != ERROR_SUCCESS)
        return status;
    {
        Host::CHostService service(options);
        status = service.Run();
    }
    // Also after a failed start: a console-close handler may be waiting.
    Host::SignalStopFinished();
    Host::RemoveStopSignal();
    return status;
}

} // namespace

int main()
{
    DWORD status;
    try
    {
        status = RunHostProcess();
    }
    catch (...)
    {
        HOST_REPORT(Common::LOG_FATAL, L"[VxSvcHost] Ended by an exception");
        status = ERROR_INTERNAL_ERROR;
    }
    return static_cast<int>(status);
}
