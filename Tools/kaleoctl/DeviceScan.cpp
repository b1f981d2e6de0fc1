// The proxy's walk over the published devices, described; see DeviceScan.h.
// A value the walk could not use is described as "(unreadable ...)".
#include "DeviceScan.h"

#include "BulbList.h"
#include "Console.h"
#include "DeviceSources.h"
#include "SourceWalk.h"

namespace Devices
{
namespace
{

using DeviceSources::CNumberValue;
using DeviceSources::CSourceDevice;
using DeviceSources::CTextValue;
using DeviceSources::ESource;

std::wstring Unreadable(DWORD rc, const wchar_t* consequence)
{
    return Console::Format(L"(unreadable, error %lu: %s)", rc, consequence);
}

std::wstring DescribeContainer(const CTextValue& id)
{
    if (id.status == ERROR_SUCCESS)
        return L"\"" + id.text + L"\" (ContainerId)";
    if (id.status == ERROR_FILE_NOT_FOUND)
        return L"(no ContainerId: the proxy uses an empty id)";
    return Unreadable(id.status, L"the proxy uses an empty id");
}

std::wstring DescribePath(const CTextValue& path)
{
    if (path.status == ERROR_SUCCESS)
        return L"\"" + path.text + (path.text.empty() ? L"\" (not paired)" : L"\" (paired)");
    if (path.status == ERROR_FILE_NOT_FOUND)
        return L"(missing: not paired)";
    return Unreadable(path.status, L"not paired");
}

std::wstring DescribeBulbs(const DeviceSources::CHueBridge& bridge)
{
    if (bridge.bulbs.status == ERROR_SUCCESS)
        return Console::Format(L"\"%s\" -> %u bulb(s) read: %s", bridge.bulbs.text.c_str(),
                               static_cast<unsigned>(bridge.bulbIds.size()),
                               DeviceIdentity::FormatBulbList(bridge.bulbIds).c_str());
    if (bridge.bulbs.status == ERROR_FILE_NOT_FOUND)
        return L"(missing: no bulbs)";
    return Unreadable(bridge.bulbs.status, L"no bulbs");
}

// Whether the presence mutex exists, opened as the proxy opens it.
std::wstring DescribeService(const DeviceSources::CServicePresence& presence)
{
    const wchar_t* mutex = DeviceSources::BROADCAST_PRESENCE_MUTEX;
    if (presence.openStatus == ERROR_SUCCESS)
        return Console::Format(L"running (%s exists)", mutex);
    if (presence.running)
        return Console::Format(L"running (%s exists, access denied)", mutex);
    if (presence.openStatus == ERROR_FILE_NOT_FOUND)
        return Console::Format(L"not running (no %s): the proxy adds no broadcast device", mutex);
    return Console::Format(L"%s cannot be opened (%lu): the proxy adds no broadcast device", mutex,
                           presence.openStatus);
}

// One DWORD of an application; 0 when unusable, as the proxy reads it.
std::wstring DescribeNumber(const wchar_t* name, const CNumberValue& number)
{
    if (number.status == ERROR_SUCCESS)
        return Console::Format(L"%s %lu (0x%lX)", name, number.value, number.value);
    if (number.status == ERROR_FILE_NOT_FOUND)
        return Console::Format(L"%s (missing: 0)", name);
    return Console::Format(L"%s (unreadable, error %lu: 0)", name, number.status);
}

const wchar_t* Title(ESource source)
{
    switch (source)
    {
    case ESource::Hid:
        return L"HID devices";
    case ESource::Usb:
        return L"USB devices";
    case ESource::Broadcast:
        return L"Broadcast applications";
    default:
        return L"IoT devices";
    }
}

// Describes what the shared walk meets and derives each device through the
// proxy view, with the source's own reason to leave it out.
class CListingVisitor : public DeviceSources::CSourceVisitor
{
public:
    CListingVisitor(CProxyView& proxy, CScanSink& sink) : m_proxy(proxy), m_sink(sink) {}

    void OnSourceKey(const DeviceSources::CSourceKey& key) override
    {
        const wchar_t* note = L"";
        if (key.listStatus != ERROR_SUCCESS)
            note = key.opened ? L"  (no entries)" : L"  (key missing)";
        m_sink.OnText(Console::Format(L"\n%s  HKLM\\%s%s\n", Title(key.source), key.keyPath.c_str(), note));
    }

    void OnHueBridge(const DeviceSources::CHueBridge& bridge) override
    {
        m_sink.OnText(Console::Format(L"\nPhilips Hue  HKLM\\%s\n", bridge.keyPath.c_str()));
        m_sink.OnText(Console::Format(L"  Path       %s\n", DescribePath(bridge.path).c_str()));
        m_sink.OnText(Console::Format(L"  bulbsId    %s\n", DescribeBulbs(bridge).c_str()));
    }

    void OnBroadcastService(const DeviceSources::CServicePresence& presence) override
    {
        m_sink.OnText(Console::Format(L"  service    %s\n", DescribeService(presence).c_str()));
    }

    void OnApplication(const DeviceSources::CApplication& app) override
    {
        m_sink.OnText(Console::Format(
            L"  [%s]  %s, %s, %s\n", app.name.c_str(),
            DescribeNumber(DeviceSources::BROADCAST_PID_VALUE, app.pid).c_str(),
            DescribeNumber(DeviceSources::BROADCAST_INDEX_VALUE, app.index).c_str(),
            DescribeNumber(DeviceSources::BROADCAST_SUPPORTED_VALUE, app.supported).c_str()));
        if (!(app.supported.value &
              (DeviceSources::BROADCAST_SUPPORTS_770 | DeviceSources::BROADCAST_SUPPORTS_818)))
            m_sink.OnText(L"    (DeviceSupported has neither 0x20 nor 0x01: no device)\n");
        m_appPid = static_cast<LONG>(app.pid.value);
    }

    void OnDevice(const CSourceDevice& device) override
    {
        switch (device.source)
        {
        case ESource::Hid:
        case ESource::Usb:
        {
            const std::wstring name = device.group + L"\\" + device.item;
            const wchar_t* bus = device.source == ESource::Usb ? DeviceSources::BUS_USB : DeviceSources::BUS_HID;
            m_sink.OnDevice(name, m_proxy.Derive(device.path, std::wstring(bus) + L" " + name, std::wstring()),
                            DescribeContainer(device.containerId));
            break;
        }
        case ESource::Hue:
        {
            const std::wstring name = Console::Format(L"bulb %ld", device.number);
            m_sink.OnDevice(name, m_proxy.Derive(device.path, L"Hue " + name, LeftOut(device)), std::wstring());
            break;
        }
        case ESource::Broadcast:
        {
            const std::wstring title = Console::Format(L"%s: pid %lu device (DeviceSupported 0x%02lX)",
                                                       device.group.c_str(), device.kindPid, device.kindBit);
            const std::wstring label =
                Console::Format(L"broadcast %s (pid %lu)", device.group.c_str(), device.kindPid);
            m_sink.OnDevice(title, m_proxy.Derive(device.path, label, LeftOut(device)), std::wstring());
            break;
        }
        case ESource::IoT:
        {
            const std::wstring name = device.group + L"\\" + device.item;
            m_sink.OnDevice(name, m_proxy.Derive(device.path, L"IoT " + name, LeftOut(device)), std::wstring());
            break;
        }
        }
    }

private:
    // The source's reasons, in the words of the list.
    std::wstring LeftOut(const CSourceDevice& device) const
    {
        std::wstring text;
        const auto add = [&text](const std::wstring& reason) { text += (text.empty() ? L"" : L"; ") + reason; };
        if (device.leftOut & DeviceSources::LEFT_OUT_NOT_PAIRED)
            add(L"the Hue bridge is not paired (Path empty)");
        if (device.leftOut & DeviceSources::LEFT_OUT_SERVICE_STOPPED)
            add(L"the broadcast service does not run");
        if (device.leftOut & DeviceSources::LEFT_OUT_APP_STOPPED)
            add(L"the application does not run (Pid " + std::to_wstring(m_appPid) + L")");
        if (device.leftOut & DeviceSources::LEFT_OUT_NO_PATH)
            add(Console::Format(L"no device path (%lu)", device.pathStatus));
        return text;
    }

    CProxyView& m_proxy;
    CScanSink& m_sink;
    LONG m_appPid = 0;
};

// Keeps the device the proxy adds under the key, else the first that derives it.
class CKeyFinder : public CScanSink
{
public:
    explicit CKeyFinder(DWORD key) : m_key(key) {}

    void OnDevice(const std::wstring&, const CDeviceView& view, const std::wstring&) override
    {
        if (!view.bKey || view.dwKey != m_key)
            return;
        // The view keeps at most one added device per key: it reports the
        // others as taken.
        if (!m_bFound || view.skipReasons.empty())
        {
            m_found = view;
            m_bFound = true;
        }
    }

    bool Found() const { return m_bFound; }
    const CDeviceView& Device() const { return m_found; }

private:
    DWORD m_key;
    bool m_bFound = false;
    CDeviceView m_found;
};

} // namespace

void ScanPublishedDevices(CProxyView& proxy, CScanSink& sink)
{
    CListingVisitor visitor(proxy, sink);
    DeviceSources::WalkSources(visitor);
}

bool FindPublishedDevice(DWORD key, CDeviceView& found)
{
    CProxyView proxy;
    proxy.LoadCatalogue();
    CKeyFinder finder(key);
    ScanPublishedDevices(proxy, finder);
    if (finder.Found())
        found = finder.Device();
    return finder.Found();
}

} // namespace Devices
