// The exports the Node.js host resolves by name (x64: undecorated; the
// ordinals follow the names' order, see VxKaleoSDKProxy64.def).
#include <windows.h>
#include <cstdlib>

#include "EventDelivery.h"
#include "ProxyRequests.h"
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
        const bool processExit = reserved != nullptr;
        ProxyProcessDetach(processExit);
        VxKaleoSDKProxy::ShutdownEventDelivery(processExit);
    }
    return TRUE;
}

extern "C" {

// Attaching goes through Invoke; kept for hosts that resolve it.
int AddDevice()
{
    return -1;
}

void FreeMalloc(void* block)
{
    std::free(block);
}

int Init()
{
    return ProxyInit();
}

DWORD Invoke(const wchar_t* request, wchar_t** response)
{
    return ProxyInvoke(request, response);
}

char* PollEvents()
{
    return VxKaleoSDKProxy::PollEvents();
}

DWORD RemoveDevice(int deviceHandle)
{
    return ProxyRemoveDevice(DeviceHandleFromInt(deviceHandle));
}

// Booleans cross to the host as 32-bit BOOLs: a host reads all of EAX.
BOOL SetAllocator(ProxyAllocator allocator)
{
    DebugPrint(0, "+%s", "VxKaleoSDKProxy::SetAllocator");
    ProxySetAllocator(allocator);
    DebugPrint(0, "-%s", "VxKaleoSDKProxy::SetAllocator");
    return TRUE;
}

BOOL SetNodeFFIEvent(VxKaleoSDKProxy::EventCallback callback)
{
    DebugPrint(0, "+%s", "VxKaleoSDKProxy::SetNodeFFIEvent");
    VxKaleoSDKProxy::SetEventCallback(callback);
    return TRUE;
}

void SetOperatingMode(DWORD mode)
{
    VxKaleoSDKProxy::SetOperatingMode(mode);
}

int UnInit()
{
    return ProxyUnInit();
}

// Any value but 0 is true, as for every BOOL.
void UsePollingMode(BOOL polling)
{
    VxKaleoSDKProxy::SetOperatingMode(polling != FALSE ? VxKaleoSDKProxy::MODE_POLLING : VxKaleoSDKProxy::MODE_IMMEDIATE);
}

// Exported as "VxKaleoSDKProxy": the C++ name is the library's namespace.
char* VxKaleoSDKProxyAction(const char* text)
{
    return ProxyAction(text, true);
}

void VxKaleoSDKProxyNoReturn(const char* text)
{
    ProxyAction(text, false);
}

} // extern "C"
