#pragma once
// The device side of the proxy: owns the device manager and, one per
// process, is what the exports and the device threads reach.
#include <windows.h>
#include <memory>

#include "DeviceManagerNative.h"

class CKaleoSDKNative
{
public:
    // Creates the device manager and reads "DebugProxy". Sets the
    // process-wide instance pointer.
    CKaleoSDKNative();
    // Clears the process-wide pointer and destroys the device manager.
    ~CKaleoSDKNative();
    CKaleoSDKNative(const CKaleoSDKNative&) = delete;
    CKaleoSDKNative& operator=(const CKaleoSDKNative&) = delete;

    // The process-wide instance, or null.
    static CKaleoSDKNative* Instance() noexcept;

    CDeviceManagerNative* DeviceManager() noexcept { return m_deviceManager.get(); }
    DWORD DebugProxy() const noexcept { return m_debugProxy; }
    LONG Enabled() const noexcept { return m_enabled; }

    // Stops the device manager; the number of records it removed.
    int Cleanup() noexcept;

private:
    std::unique_ptr<CDeviceManagerNative> m_deviceManager;
    DWORD m_debugProxy = 0;
    volatile LONG m_enabled = 1;
};
