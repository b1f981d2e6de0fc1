// The walk over the published devices in the proxy's scan order; see
// DeviceScan.h. Every value is read as untrusted: through the bounded
// readers, and described as "(unreadable ...)" when unusable.
#include "DeviceScan.h"

#include "BulbList.h"
#include "Console.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "Handles.h"
#include "Registry.h"

using namespace Common;

namespace Devices
{
namespace
{

std::wstring SubKey(const std::wstring& parent, const std::wstring& name)
{
    return parent + L"\\" + name;
}

// The subkey names as the proxy enumerates them; describes the source's key.
std::vector<std::wstring> Section(CScanSink& sink, const wchar_t* title, const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    const wchar_t* note = L"";
    if (RegEnumSubkeyNames(keyPath, names) != ERROR_SUCCESS)
    {
        CRegKey key;
        const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KALEO_READ_ACCESS, key.Put());
        note = rc == ERROR_SUCCESS ? L"  (no entries)" : L"  (key missing)";
    }
    sink.OnText(Console::Format(L"\n%s  HKLM\\%s%s\n", title, keyPath.c_str(), note));
    return names;
}

std::vector<std::wstring> Subkeys(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    RegEnumSubkeyNames(keyPath, names);
    return names;
}

std::wstring Unreadable(DWORD rc, const wchar_t* consequence)
{
    return Console::Format(L"(unreadable, error %lu: %s)", rc, consequence);
}

// A text value of another process, through the bounded reader.
DWORD ReadText(const std::wstring& keyPath, const wchar_t* name, std::wstring& text)
{
    CRegKey key;
    const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KALEO_READ_ACCESS, key.Put());
    return rc == ERROR_SUCCESS ? ReadStringValue(key.Get(), name, text) : static_cast<DWORD>(rc);
}

std::wstring DescribeContainer(const std::wstring& instanceKey)
{
    std::wstring id;
    const DWORD rc = ReadText(instanceKey, DeviceSources::CONTAINER_ID_VALUE, id);
    if (rc == ERROR_SUCCESS)
        return L"\"" + id + L"\" (ContainerId)";
    if (rc == ERROR_FILE_NOT_FOUND)
        return L"(no ContainerId: the proxy uses an empty id)";
    return Unreadable(rc, L"the proxy uses an empty id");
}

void ScanBus(CProxyView& proxy, CScanSink& sink, const wchar_t* bus, const wchar_t* title)
{
    const std::wstring busKey = SubKey(DeviceSources::DEVICES_KEY, bus);
    for (const std::wstring& hardware : Section(sink, title, busKey))
    {
        const std::wstring hardwareKey = SubKey(busKey, hardware);
        for (const std::wstring& instance : Subkeys(hardwareKey))
        {
            const std::wstring name = hardware + L"\\" + instance;
            const CDeviceView view = proxy.Derive(DeviceIdentity::MakeBusDevicePath(bus, hardware, instance),
                                                  std::wstring(bus) + L" " + name, std::wstring());
            sink.OnDevice(name, view, DescribeContainer(SubKey(hardwareKey, instance)));
        }
    }
}

// Path and bulb list of the Hue key; the reason the bulbs are not added
// when the bridge is not paired.
std::wstring DescribeHue(CScanSink& sink, const std::wstring& key, std::vector<LONG>& bulbs)
{
    std::wstring path;
    const DWORD pathRc = ReadText(key, DeviceSources::HUE_PATH_VALUE, path);
    const bool paired = pathRc == ERROR_SUCCESS && !path.empty();
    std::wstring shown;
    if (pathRc == ERROR_SUCCESS)
        shown = L"\"" + path + (paired ? L"\" (paired)" : L"\" (not paired)");
    else if (pathRc == ERROR_FILE_NOT_FOUND)
        shown = L"(missing: not paired)";
    else
        shown = Unreadable(pathRc, L"not paired");
    sink.OnText(Console::Format(L"  Path       %s\n", shown.c_str()));

    std::wstring list;
    const DWORD listRc = ReadText(key, DeviceSources::HUE_BULBS_VALUE, list);
    if (listRc == ERROR_SUCCESS)
    {
        bulbs = DeviceIdentity::ParseBulbList(list);
        shown = Console::Format(L"\"%s\" -> %u bulb(s) read: %s", list.c_str(), static_cast<unsigned>(bulbs.size()),
                                DeviceIdentity::FormatBulbList(bulbs).c_str());
    }
    else if (listRc == ERROR_FILE_NOT_FOUND)
        shown = L"(missing: no bulbs)";
    else
        shown = Unreadable(listRc, L"no bulbs");
    sink.OnText(Console::Format(L"  bulbsId    %s\n", shown.c_str()));
    return paired ? std::wstring() : std::wstring(L"the Hue bridge is not paired (Path empty)");
}

void ScanHue(CProxyView& proxy, CScanSink& sink)
{
    const std::wstring key = SubKey(DeviceSources::SMART_LIGHTING_KEY, DeviceSources::PHILIPS_HUE_NAME);
    sink.OnText(Console::Format(L"\nPhilips Hue  HKLM\\%s\n", key.c_str()));
    std::vector<LONG> bulbs;
    const std::wstring excluded = DescribeHue(sink, key, bulbs);
    for (LONG bulb : bulbs)
    {
        const std::wstring name = Console::Format(L"bulb %ld", bulb);
        sink.OnDevice(name, proxy.Derive(DeviceIdentity::MakeHueBulbPath(bulb), L"Hue " + name, excluded),
                      std::wstring());
    }
}

// Whether the presence mutex exists, opened as the proxy opens it.
std::wstring DescribeService(bool& running)
{
    CHandle presence(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
    const DWORD rc = ::GetLastError();
    running = static_cast<bool>(presence);
    if (running)
        return Console::Format(L"running (%s exists)", DeviceSources::BROADCAST_PRESENCE_MUTEX);
    if (rc == ERROR_FILE_NOT_FOUND)
        return Console::Format(L"not running (no %s): the proxy adds no broadcast device",
                               DeviceSources::BROADCAST_PRESENCE_MUTEX);
    return Console::Format(L"%s cannot be opened (%lu): the proxy adds no broadcast device",
                           DeviceSources::BROADCAST_PRESENCE_MUTEX, rc);
}

// One DWORD of an application; 0 when unusable, as the proxy reads it.
DWORD ReadNumber(HKEY key, const wchar_t* name, std::wstring& shown)
{
    DWORD value = 0;
    const DWORD rc = key ? ReadDwordValue(key, name, value) : ERROR_FILE_NOT_FOUND;
    if (rc == ERROR_SUCCESS)
        shown = Console::Format(L"%s %lu (0x%lX)", name, value, value);
    else if (rc == ERROR_FILE_NOT_FOUND)
        shown = Console::Format(L"%s (missing: 0)", name);
    else
        shown = Console::Format(L"%s (unreadable, error %lu: 0)", name, rc);
    return rc == ERROR_SUCCESS ? value : 0;
}

struct CBroadcastKind
{
    DWORD bit;
    DWORD pid;
};

const CBroadcastKind kBroadcastKinds[] = {
    {DeviceSources::BROADCAST_SUPPORTS_770, DeviceSources::PID_BROADCAST_770},
    {DeviceSources::BROADCAST_SUPPORTS_818, DeviceSources::PID_BROADCAST_818},
};

void ScanApplication(CProxyView& proxy, CScanSink& sink, const std::wstring& name, bool running)
{
    CRegKey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(DeviceSources::BROADCAST_APPS_KEY, name).c_str(), 0, KALEO_READ_ACCESS,
                    key.Put());
    std::wstring pidText, indexText, supportedText;
    const DWORD pid = ReadNumber(key.Get(), DeviceSources::BROADCAST_PID_VALUE, pidText);
    const LONG index = static_cast<LONG>(ReadNumber(key.Get(), DeviceSources::BROADCAST_INDEX_VALUE, indexText));
    const DWORD supported = ReadNumber(key.Get(), DeviceSources::BROADCAST_SUPPORTED_VALUE, supportedText);
    sink.OnText(Console::Format(L"  [%s]  %s, %s, %s\n", name.c_str(), pidText.c_str(), indexText.c_str(),
                                supportedText.c_str()));

    std::wstring excluded;
    if (!running)
        excluded = L"the broadcast service does not run";
    if (static_cast<LONG>(pid) <= 0)
        excluded += std::wstring(excluded.empty() ? L"" : L"; ") + L"the application does not run (Pid " +
                    std::to_wstring(static_cast<LONG>(pid)) + L")";
    bool any = false;
    for (const CBroadcastKind& kind : kBroadcastKinds)
    {
        if (!(supported & kind.bit))
            continue;
        any = true;
        const std::wstring title =
            Console::Format(L"%s: pid %lu device (DeviceSupported 0x%02lX)", name.c_str(), kind.pid, kind.bit);
        sink.OnDevice(title,
                      proxy.Derive(DeviceIdentity::MakeBroadcastPath(kind.pid, index),
                                   Console::Format(L"broadcast %s (pid %lu)", name.c_str(), kind.pid), excluded),
                      std::wstring());
    }
    if (!any)
        sink.OnText(L"    (DeviceSupported has neither 0x20 nor 0x01: no device)\n");
}

void ScanBroadcast(CProxyView& proxy, CScanSink& sink)
{
    const std::vector<std::wstring> apps = Section(sink, L"Broadcast applications", DeviceSources::BROADCAST_APPS_KEY);
    bool running = false;
    sink.OnText(Console::Format(L"  service    %s\n", DescribeService(running).c_str()));
    for (const std::wstring& name : apps)
        ScanApplication(proxy, sink, name, running);
}

void ScanIoT(CProxyView& proxy, CScanSink& sink)
{
    for (const std::wstring& product : Section(sink, L"IoT devices", DeviceSources::IOT_KEY))
    {
        for (const std::wstring& id : Subkeys(SubKey(DeviceSources::IOT_KEY, product)))
        {
            std::wstring path;
            const DWORD rc = DeviceIdentity::MakeIoTDevicePath(product, id, path);
            const std::wstring name = product + L"\\" + id;
            const std::wstring excluded =
                rc == ERROR_SUCCESS ? std::wstring() : Console::Format(L"no device path (%lu)", rc);
            sink.OnDevice(name, proxy.Derive(path, L"IoT " + name, excluded), std::wstring());
        }
    }
}

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
    ScanBus(proxy, sink, DeviceSources::BUS_HID, L"HID devices");
    ScanBus(proxy, sink, DeviceSources::BUS_USB, L"USB devices");
    ScanHue(proxy, sink);
    ScanBroadcast(proxy, sink);
    ScanIoT(proxy, sink);
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
