// The host's stop request; see StopSignal.h.
#include "StopSignal.h"

#include <atomic>

#include "Handles.h"
#include "HostOutput.h"

namespace Host
{
namespace
{

// For the whole process: the console handler runs on a thread of its own
// that may still be waiting when the main thread returns.
Common::CHandle g_stopRequested;
Common::CHandle g_stopFinished;
std::atomic<LONG> g_requested{0};

BOOL WINAPI OnConsoleControl(DWORD type) noexcept
{
    switch (type)
    {
    case CTRL_C_EVENT:
        RequestStop(L"Ctrl+C");
        return TRUE;
    case CTRL_BREAK_EVENT:
        RequestStop(L"Ctrl+Break");
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Returning lets the system end the process at once: hold it until
        // the modules are stopped and unloaded.
        RequestStop(type == CTRL_CLOSE_EVENT ? L"console closed" : L"session ending");
        ::WaitForSingleObject(g_stopFinished.Get(), INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

DWORD InstallStopSignal()
{
    g_stopRequested.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stopFinished.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!g_stopRequested || !g_stopFinished)
        return ::GetLastError();
    // A process started in a new process group ignores Ctrl+C until it
    // asks for it again.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    if (!::SetConsoleCtrlHandler(&OnConsoleControl, TRUE))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

void RemoveStopSignal()
{
    ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
}

HANDLE StopRequestedEvent()
{
    return g_stopRequested.Get();
}

void RequestStop(const wchar_t* reason)
{
    if (g_requested.exchange(1) == 0)
        HOST_REPORT(Common::LOG_INFO, L"[VxSvcHost] Stop requested (%s)", reason);
    ::SetEvent(g_stopRequested.Get());
}

void SignalStopFinished()
{
    ::SetEvent(g_stopFinished.Get());
}

} // namespace Host
