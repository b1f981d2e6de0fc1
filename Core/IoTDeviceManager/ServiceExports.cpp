// The three entry points the service host resolves by name.
#include "IoTModule.h"
#include "ServiceEntry.h"

extern "C" __declspec(dllexport) int __cdecl InitServiceModule(int context)
{
    return IoTModuleInit(context);
}

extern "C" __declspec(dllexport) int __cdecl OnServiceEvent(int eventCode)
{
    return IoTModuleEvent(eventCode);
}

extern "C" __declspec(dllexport) int __cdecl UnInitServiceModule(int context)
{
    return IoTModuleUnInit(context);
}
