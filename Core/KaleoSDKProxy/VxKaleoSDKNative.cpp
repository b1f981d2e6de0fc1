#include "VxKaleoSDKNative.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

#include "KaleoSDKNative.h"
#include "LogWriter.h"

namespace
{

std::unique_ptr<CKaleoSDKNative> g_native;

} // namespace

int ProxyInit() noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START", L"Init");
    int result = -1;
    try
    {
        if (!g_native)
            g_native = std::make_unique<CKaleoSDKNative>();
    }
    catch (const std::exception&)
    {
        g_native.reset();
    }
    if (g_native && g_native->DeviceManager())
    {
        const int found = g_native->DeviceManager()->Start();
        result = found > 0 ? found : -1;
    }
    KLOG(Common::LOG_INFO, L"%s | END | numDevices = %d", L"Init", result);
    return result;
}

int ProxyUnInit() noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START", L"UnInit");
    int result = ERROR_FUNCTION_FAILED;
    if (g_native)
    {
        result = g_native->Cleanup();
        g_native.reset();
    }
    KLOG(Common::LOG_INFO, L"%s | END | result = %d", L"UnInit", result);
    return result;
}

DWORD ProxyRemoveDevice(DEVICE_HANDLE deviceHandle) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START | id = %d ", L"RemoveDevice", DeviceHandleToInt(deviceHandle));
    const DWORD result = g_native ? g_native->RemoveDevice(deviceHandle) : ERROR_FUNCTION_FAILED;
    KLOG(Common::LOG_INFO, L"%s | END | id = %d | result = %d", L"RemoveDevice", DeviceHandleToInt(deviceHandle),
         static_cast<int>(result));
    return result;
}

void ProxyProcessDetach(bool processExit) noexcept
{
    if (processExit)
        g_native.release();
    else
        g_native.reset();
}

void DebugPrint(int, const char* format, ...) noexcept
{
    char text[508] = {};
    va_list args;
    va_start(args, format);
    _vsnprintf(text, sizeof(text) - 1, format, args);
    va_end(args);
    ::OutputDebugStringA(text);
    ::OutputDebugStringA("\r\n");
}
