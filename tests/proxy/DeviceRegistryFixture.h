#pragma once
// Publishes devices the way the SDK's other processes do, in a registry
// and install folder that are put back after each test.
#include <windows.h>
#include <string>

#include "Handles.h"
#include "TestEnv.h"

namespace ProxyTest
{

// A catalogue serving the keyboard (0x0084), a USB device (0x0090), the Hue
// bulbs (0x0301) and IoT lights (0x0F07).
extern const char kCatalogue[];
// A catalogue of at least `bytes` bytes, one keyboard entry repeated.
std::string RepeatedCatalogue(size_t bytes);

class CDeviceRegistry
{
public:
    CDeviceRegistry();
    ~CDeviceRegistry();
    CDeviceRegistry(const CDeviceRegistry&) = delete;
    CDeviceRegistry& operator=(const CDeviceRegistry&) = delete;

    const std::wstring& InstallPath() const { return m_install.InstallPath(); }
    std::wstring LogText() const;
    void WriteCatalogue(const std::string& text) const;

    void PublishBus(const std::wstring& bus, const std::wstring& hardware, const std::wstring& instance,
                    const std::wstring& containerId = L"{C0}") const;
    // "VID_2F1A&PID_0084&MI_00" keyboard interface with instance "7&<hex>&0&0000".
    void PublishKeyboard(DWORD serial, const std::wstring& containerId = L"{C0}") const;
    void PublishIoT(const std::wstring& product, const std::wstring& id) const;
    void SetHue(const std::wstring& path, const std::wstring& bulbs) const;
    void PublishBroadcast(const std::wstring& name, DWORD pid, DWORD index, DWORD supported) const;

    // Writes a value of any type, creating the key.
    static void WriteValue(const std::wstring& keyPath, const std::wstring& name, DWORD type, const void* data,
                           DWORD size);
    static void CreateKey(const std::wstring& keyPath);
    // The path of the keyboard PublishKeyboard writes.
    static std::wstring KeyboardPath(DWORD serial);

private:
    TestEnv::CInstallFixture m_install;
    TestEnv::CRegistrySnapshot m_broadcast;
};

// Holds the broadcast service's presence mutex while it lives.
class CBroadcastPresence
{
public:
    CBroadcastPresence();

private:
    Common::CHandle m_mutex;
};

// Threads of this process, for checks that nothing was left running.
size_t ThreadCount();
// Waits until the process has at most `count` threads.
bool WaitForThreadCount(size_t count, DWORD timeoutMs);

} // namespace ProxyTest
