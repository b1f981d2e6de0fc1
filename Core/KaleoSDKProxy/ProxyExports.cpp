// The exports the Node.js host resolves by name (x64: undecorated).
#include <windows.h>

#include "VxKaleoSDKNative.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        DebugPrint(0, "%s - DLL_PROCESS_ATTACH 0x%x", "DllMain", static_cast<unsigned>(::GetCurrentProcessId()));
    }
    else if (reason == DLL_PROCESS_DETACH)
    {
        DebugPrint(0, "%s - DLL_PROCESS_DETACH 0x%x", "DllMain", static_cast<unsigned>(::GetCurrentProcessId()));
        ProxyProcessDetach(reserved != nullptr);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) int Init()
{
    return ProxyInit();
}

extern "C" __declspec(dllexport) int UnInit()
{
    return ProxyUnInit();
}
