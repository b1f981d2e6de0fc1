// The three entry points the service host resolves by name.
#include "SmartlightingModule.h"
#include "ServiceEntry.h"

extern "C" __declspec(dllexport) int __cdecl InitServiceModule(int context)
{
    return SmartlightingModuleInit(context);
}

extern "C" __declspec(dllexport) int __cdecl OnServiceEvent(int eventCode)
{
    return SmartlightingModuleEvent(eventCode);
}

extern "C" __declspec(dllexport) int __cdecl UnInitServiceModule(int context)
{
    return SmartlightingModuleUnInit(context);
}
