// kaleoctl devices broadcast-service: stands in for the broadcast service,
// whose presence mutex tells the proxy that broadcast applications are
// published. The stand-in holds the mutex until another kaleoctl asks it to
// stop through the tool's own stop event, or until its time is up.
#include <windows.h>

#include "Console.h"
#include "DeviceSources.h"
#include "Devices.h"
#include "GlobalSecurity.h"
#include "Handles.h"

using namespace Common;

namespace
{

// A name of this tool's, not of the product: only kaleoctl signals it.
constexpr wchar_t kStopEvent[] = L"Global\\KaleoctlBroadcastServiceStop";
constexpr unsigned long kMaxSeconds = 7ul * 24 * 3600;
constexpr DWORD kStopWaitMs = 10000;

bool PresenceExists()
{
    CHandle presence(::OpenMutexW(SYNCHRONIZE, FALSE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
    return static_cast<bool>(presence);
}

int Serve(DWORD timeoutMs)
{
    CGlobalSecurity security;
    security.Build(); // default security when it cannot be built
    CHandle presence(::CreateMutexW(security.Attributes(), TRUE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
    const DWORD created = ::GetLastError();
    if (!presence || created == ERROR_ALREADY_EXISTS)
    {
        Console::Error(presence ? L"devices broadcast-service: %s exists already: a broadcast service runs\n"
                                : L"devices broadcast-service: cannot create %s (%lu)\n",
                       DeviceSources::BROADCAST_PRESENCE_MUTEX, created);
        return 1;
    }
    CHandle stop(::CreateEventW(security.Attributes(), TRUE, FALSE, kStopEvent));
    if (!stop)
    {
        Console::Error(L"devices broadcast-service: cannot create %s (%lu)\n", kStopEvent, ::GetLastError());
        return 1;
    }
    // The event may outlive an earlier run in a requester's hands, still set.
    ::ResetEvent(stop.Get());

    Console::Print(L"broadcast-service: holding %s (pid %lu)\n", DeviceSources::BROADCAST_PRESENCE_MUTEX,
                   ::GetCurrentProcessId());
    const DWORD woke = ::WaitForSingleObject(stop.Get(), timeoutMs);
    ::ReleaseMutex(presence.Get());
    if (woke == WAIT_FAILED)
    {
        Console::Error(L"devices broadcast-service: wait failed (%lu)\n", ::GetLastError());
        return 1;
    }
    Console::Print(L"broadcast-service: %s; released %s\n", woke == WAIT_OBJECT_0 ? L"stop requested" : L"time is up",
                   DeviceSources::BROADCAST_PRESENCE_MUTEX);
    return 0;
}

// Asks a running stand-in to stop and waits until the presence mutex is
// gone, so that what runs next sees no broadcast service.
int RequestStop()
{
    CHandle stop(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kStopEvent));
    if (!stop)
    {
        if (PresenceExists())
        {
            Console::Error(L"devices broadcast-service: %s is held by a process other than kaleoctl\n",
                           DeviceSources::BROADCAST_PRESENCE_MUTEX);
            return 1;
        }
        Console::Print(L"broadcast-service: not running\n");
        return 0;
    }
    ::SetEvent(stop.Get());
    const ULONGLONG deadline = ::GetTickCount64() + kStopWaitMs;
    while (PresenceExists())
    {
        if (::GetTickCount64() >= deadline)
        {
            Console::Error(L"devices broadcast-service: %s still exists %lu ms after the stop\n",
                           DeviceSources::BROADCAST_PRESENCE_MUTEX, kStopWaitMs);
            return 1;
        }
        ::Sleep(20);
    }
    Console::Print(L"broadcast-service: stopped\n");
    return 0;
}

} // namespace

namespace Devices
{

int BroadcastService(CArgs& args)
{
    const bool stop = TakeFlag(args, L"--stop");
    std::wstring text;
    unsigned long seconds = 0;
    const bool timed = TakeOption(args, L"--seconds", text);
    if (!NoMoreArgs(args, L"broadcast-service"))
        return 2;
    if (timed && (stop || !ParseNumber(text, seconds, 1, kMaxSeconds)))
    {
        Console::Error(L"devices broadcast-service: --seconds takes 1 to %lu, without --stop\n", kMaxSeconds);
        return 2;
    }
    if (stop)
        return RequestStop();
    return Serve(timed ? static_cast<DWORD>(seconds * 1000) : INFINITE);
}

} // namespace Devices
