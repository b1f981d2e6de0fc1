#pragma once
// What a service module and the host that loads it agree on: the three
// exports the host resolves by name, their one signature, and the event
// codes OnServiceEvent receives. A module declares its exports through
// this header, so a signature that drifts from the host's fails to compile.
#include <windows.h>

namespace ServiceHost
{

// InitServiceModule, OnServiceEvent and UnInitServiceModule: undecorated
// __cdecl functions taking and returning a 32-bit integer. Init and UnInit
// take a context the modules ignore; OnServiceEvent takes an event code.
typedef int(__cdecl* PFN_SERVICE_ENTRY)(int);

constexpr char INIT_EXPORT[] = "InitServiceModule";
constexpr char EVENT_EXPORT[] = "OnServiceEvent";
constexpr char UNINIT_EXPORT[] = "UnInitServiceModule";

// Event codes the device managers act on; the app manager ignores every
// event, and any other code is ignored by all.
enum : int
{
    SERVICE_EVENT_START = 1,
    SERVICE_EVENT_STOP = 2,
    SERVICE_EVENT_SHUTDOWN = 3,
    SERVICE_EVENT_RESTART = 10,
};

} // namespace ServiceHost

extern "C"
{
int __cdecl InitServiceModule(int context);
int __cdecl OnServiceEvent(int eventCode);
int __cdecl UnInitServiceModule(int context);
}
