#include "KaleoSDKNative.h"

#include "DeviceSources.h"
#include "LogWriter.h"
#include "Registry.h"

namespace
{

CKaleoSDKNative* volatile g_instance = nullptr;

} // namespace

CKaleoSDKNative::CKaleoSDKNative()
{
    m_deviceManager = std::make_unique<CDeviceManagerNative>();
    DWORD debug = 0;
    if (Common::RegGetDword(DeviceSources::DEVICES_KEY, DeviceSources::DEBUG_PROXY_VALUE, debug) == ERROR_SUCCESS)
        m_debugProxy = debug;
    m_enabled = 1;
    // Published last: a constructor that throws leaves no pointer behind.
    g_instance = this;
}

CKaleoSDKNative::~CKaleoSDKNative()
{
    m_deviceManager.reset();
    if (g_instance == this)
        g_instance = nullptr;
}

CKaleoSDKNative* CKaleoSDKNative::Instance() noexcept
{
    return g_instance;
}

int CKaleoSDKNative::Cleanup() noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START", L"CKaleoSDKNative::Cleanup");
    const int result = m_deviceManager ? m_deviceManager->Stop() : 0;
    KLOG(Common::LOG_INFO, L"%s | END | result = %d", L"CKaleoSDKNative::Cleanup", result);
    return result;
}
