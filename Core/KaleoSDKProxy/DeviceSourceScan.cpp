#include "DeviceManagerNative.h"

#include <new>

#include "DeviceSources.h"
#include "LogWriter.h"
#include "SourceWalk.h"

using DeviceSources::CSourceDevice;
using DeviceSources::CTextValue;
using DeviceSources::ESource;

namespace
{

// FNV-1a, 64 bits: the fingerprint of what a bus listing held.
constexpr ULONGLONG PRINT_BASIS = 14695981039346656037ULL;

void AddToPrint(ULONGLONG& print, const std::wstring& text) noexcept
{
    for (wchar_t c : text)
    {
        print ^= static_cast<ULONGLONG>(c);
        print *= 1099511628211ULL;
    }
    print ^= 0xFFFF;  // ends the text, so "ab","c" and "a","bc" differ
    print *= 1099511628211ULL;
}

// A value another process wrote that cannot be used; a missing one is none.
bool Unusable(const CTextValue& value) noexcept
{
    return value.status != ERROR_SUCCESS && value.status != ERROR_FILE_NOT_FOUND;
}

} // namespace

// Adds what the sources offer to the table, logs the values it cannot use,
// and takes the fingerprint of a bus. Without a scan it only fingerprints.
class CDeviceManagerNative::CSourceAdder : public DeviceSources::CSourceVisitor
{
public:
    CSourceAdder(CDeviceManagerNative& manager, CScan* scan) : m_manager(manager), m_scan(scan) {}

    bool WantsLeftOut() const override { return false; }
    bool Stopping() const override { return m_manager.Stopping(); }

    void OnSourceKey(const DeviceSources::CSourceKey& key) override { m_sourceKey = key.keyPath; }

    void OnHueBridge(const DeviceSources::CHueBridge& bridge) override
    {
        if (!m_scan)
            return;
        ReportText(bridge.keyPath, DeviceSources::HUE_PATH_VALUE, bridge.path);
        ReportText(bridge.keyPath, DeviceSources::HUE_BULBS_VALUE, bridge.bulbs);
    }

    void OnDevice(const CSourceDevice& device) override
    {
        if (device.source == ESource::Hid || device.source == ESource::Usb)
        {
            if (m_scan && device.instanceOpened && Unusable(device.containerId))
                KLOG(Common::LOG_WARN, L"%s | %s of %s\\...\\%s cannot be used | error = %d",
                     L"CDeviceManagerNative::EnumerateBus", DeviceSources::CONTAINER_ID_VALUE, m_sourceKey.c_str(),
                     device.item.c_str(), static_cast<int>(device.containerId.status));
            AddToPrint(m_print, device.path);
            AddToPrint(m_print, device.containerId.text);
        }
        if (m_scan && m_manager.AddDevice(device.path, device.containerId.text, *m_scan) == ERROR_SUCCESS)
            ++m_added;
    }

    int Added() const noexcept { return m_added; }
    ULONGLONG Print() const noexcept { return m_print; }

private:
    static void ReportText(const std::wstring& keyPath, const wchar_t* name, const CTextValue& value)
    {
        if (Unusable(value))
            KLOG(Common::LOG_WARN, L"%s | %s of %s cannot be used | error = %d",
                 L"CDeviceManagerNative::AddSmartLightingDevices", name, keyPath.c_str(),
                 static_cast<int>(value.status));
    }

    CDeviceManagerNative& m_manager;
    CScan* m_scan;
    std::wstring m_sourceKey;
    ULONGLONG m_print = PRINT_BASIS;
    int m_added = 0;
};

template <typename Body>
int CDeviceManagerNative::Scan(Body body) noexcept
{
    try
    {
        const auto catalog = m_catalog.Current();
        if (!catalog)
            return 0;
        CScan scan{*catalog, {}};
        return body(scan);
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

int CDeviceManagerNative::EnumerateBus(const wchar_t* bus) noexcept
{
    if (!bus)
        return 0;
    return Scan([&](CScan& scan) { return AddFromBus(bus, scan); });
}

int CDeviceManagerNative::AddFromBus(const std::wstring& bus, CScan& scan)
{
    CSourceAdder adder(*this, &scan);
    DeviceSources::WalkBus(bus.c_str(), adder);
    BusPrint(bus).store(adder.Print());
    return adder.Added();
}

std::atomic<ULONGLONG>& CDeviceManagerNative::BusPrint(const std::wstring& bus) noexcept
{
    return bus == DeviceSources::BUS_USB ? m_usbPrint : m_hidPrint;
}

bool CDeviceManagerNative::BusChangedSinceScan(const wchar_t* bus) noexcept
{
    try
    {
        const ULONGLONG seen = BusPrint(bus).load();
        if (seen == 0)
            return true;
        CSourceAdder printer(*this, nullptr);
        DeviceSources::WalkBus(bus, printer);
        return printer.Print() != seen;
    }
    catch (const std::bad_alloc&)
    {
        return true;
    }
}

template <typename Walk>
int CDeviceManagerNative::AddFromSource(Walk walk) noexcept
{
    return Scan([&](CScan& scan) {
        CSourceAdder adder(*this, &scan);
        walk(adder);
        return adder.Added();
    });
}

int CDeviceManagerNative::AddSmartLightingDevices() noexcept
{
    return AddFromSource(DeviceSources::WalkHue);
}

int CDeviceManagerNative::AddBroadcastDevices() noexcept
{
    // No catalogue is read while no application can be published.
    if (!DeviceSources::FindBroadcastService().running)
        return 0;
    return AddFromSource(DeviceSources::WalkBroadcast);
}

int CDeviceManagerNative::AddIoTDevices() noexcept
{
    return AddFromSource(DeviceSources::WalkIoT);
}
