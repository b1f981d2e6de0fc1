// The three entry points the service host resolves by name.
#include "AppManagerModule.h"
#include "ServiceEntry.h"

extern "C" __declspec(dllexport) int __cdecl InitServiceModule(int context)
{
    return AppManagerModuleInit(context);
}

extern "C" __declspec(dllexport) int __cdecl OnServiceEvent(int eventCode)
{
    return AppManagerModuleEvent(eventCode);
}

extern "C" __declspec(dllexport) int __cdecl UnInitServiceModule(int context)
{
    return AppManagerModuleUnInit(context);
}
