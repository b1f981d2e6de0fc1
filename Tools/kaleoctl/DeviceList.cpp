// kaleoctl devices list: every device published for the proxy, source by
// source in the proxy's scan order (HID, USB, Hue, broadcast, IoT), with the
// key, object, pipe and plug-in the proxy derives for it and why a proxy
// starting now would not add it. Every value is read as untrusted: through
// the bounded readers, and shown as "(unreadable ...)" when unusable.
#include <windows.h>
#include <objbase.h>

#include "BulbList.h"
#include "Console.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "DeviceView.h"
#include "Devices.h"
#include "Handles.h"
#include "Registry.h"

using namespace Common;
using Devices::CDeviceView;
using Devices::CProxyView;

namespace
{

std::wstring SubKey(const std::wstring& parent, const std::wstring& name)
{
    return parent + L"\\" + name;
}

void Line(const wchar_t* label, const std::wstring& text)
{
    Console::Print(L"    %-10s %s\n", label, text.c_str());
}

// The subkey names as the proxy enumerates them; prints the source's header.
std::vector<std::wstring> Section(const wchar_t* title, const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    const wchar_t* note = L"";
    if (RegEnumSubkeyNames(keyPath, names) != ERROR_SUCCESS)
    {
        CRegKey key;
        const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KALEO_READ_ACCESS, key.Put());
        note = rc == ERROR_SUCCESS ? L"  (no entries)" : L"  (key missing)";
    }
    Console::Print(L"\n%s  HKLM\\%s%s\n", title, keyPath.c_str(), note);
    return names;
}

std::vector<std::wstring> Subkeys(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    RegEnumSubkeyNames(keyPath, names);
    return names;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    if (::StringFromGUID2(guid, text, 40) <= 0)
        return L"(none)";
    // The proxy's fallback when the path's fields do not form a GUID.
    return guid == GUID{} ? std::wstring(text) + L" (all zero: the path forms no GUID)" : std::wstring(text);
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

void PrintDevice(const std::wstring& title, const CDeviceView& view, const std::wstring& container)
{
    Console::Print(L"  %s\n", title.c_str());
    Line(L"path", view.path.empty() ? L"(none)" : view.path);
    Line(L"pid", view.productId < 0 ? L"(none)" : Console::Format(L"0x%04lX (%ld)", view.productId, view.productId));
    Line(L"key", view.bKey ? Console::Format(L"0x%08lX (%lu)", view.dwKey, view.dwKey)
                           : std::wstring(L"(none: the path gives no key)"));
    Line(L"object", view.objectName.empty() ? std::wstring(L"(none)")
                                            : view.objectName + L"  (device mutex Global\\" + view.objectName + L")");
    Line(L"pipe", view.pipeName.empty() ? L"(none)" : view.pipeName);
    Line(L"plug-in", view.pluginPath.empty() ? L"(none)" : view.pluginPath);
    if (!container.empty())
        Line(L"container", container);
    Line(L"guid", GuidText(view.containerGuid));
    Line(L"proxy", view.skipReasons.empty() ? L"adds it" : L"does not add it: " + view.skipReasons);
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

void ListBus(CProxyView& proxy, const wchar_t* bus, const wchar_t* title)
{
    const std::wstring busKey = SubKey(DeviceSources::DEVICES_KEY, bus);
    for (const std::wstring& hardware : Section(title, busKey))
    {
        const std::wstring hardwareKey = SubKey(busKey, hardware);
        for (const std::wstring& instance : Subkeys(hardwareKey))
        {
            const std::wstring name = hardware + L"\\" + instance;
            const CDeviceView view = proxy.Derive(DeviceIdentity::MakeBusDevicePath(bus, hardware, instance),
                                                  std::wstring(bus) + L" " + name, std::wstring());
            PrintDevice(name, view, DescribeContainer(SubKey(hardwareKey, instance)));
        }
    }
}

// Path and bulb list of the Hue key; the reason the bulbs are not added
// when the bridge is not paired.
std::wstring DescribeHue(const std::wstring& key, std::vector<LONG>& bulbs)
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
    Console::Print(L"  Path       %s\n", shown.c_str());

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
    Console::Print(L"  bulbsId    %s\n", shown.c_str());
    return paired ? std::wstring() : std::wstring(L"the Hue bridge is not paired (Path empty)");
}

void ListHue(CProxyView& proxy)
{
    const std::wstring key = SubKey(DeviceSources::SMART_LIGHTING_KEY, DeviceSources::PHILIPS_HUE_NAME);
    Console::Print(L"\nPhilips Hue  HKLM\\%s\n", key.c_str());
    std::vector<LONG> bulbs;
    const std::wstring excluded = DescribeHue(key, bulbs);
    for (LONG bulb : bulbs)
    {
        const std::wstring name = Console::Format(L"bulb %ld", bulb);
        PrintDevice(name, proxy.Derive(DeviceIdentity::MakeHueBulbPath(bulb), L"Hue " + name, excluded),
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

void ListApplication(CProxyView& proxy, const std::wstring& name, bool running)
{
    CRegKey key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SubKey(DeviceSources::BROADCAST_APPS_KEY, name).c_str(), 0, KALEO_READ_ACCESS,
                    key.Put());
    std::wstring pidText, indexText, supportedText;
    const DWORD pid = ReadNumber(key.Get(), DeviceSources::BROADCAST_PID_VALUE, pidText);
    const LONG index = static_cast<LONG>(ReadNumber(key.Get(), DeviceSources::BROADCAST_INDEX_VALUE, indexText));
    const DWORD supported = ReadNumber(key.Get(), DeviceSources::BROADCAST_SUPPORTED_VALUE, supportedText);
    Console::Print(L"  [%s]  %s, %s, %s\n", name.c_str(), pidText.c_str(), indexText.c_str(), supportedText.c_str());

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
        PrintDevice(title,
                    proxy.Derive(DeviceIdentity::MakeBroadcastPath(kind.pid, index),
                                 Console::Format(L"broadcast %s (pid %lu)", name.c_str(), kind.pid), excluded),
                    std::wstring());
    }
    if (!any)
        Console::Print(L"    (DeviceSupported has neither 0x20 nor 0x01: no device)\n");
}

void ListBroadcast(CProxyView& proxy)
{
    const std::vector<std::wstring> apps = Section(L"Broadcast applications", DeviceSources::BROADCAST_APPS_KEY);
    bool running = false;
    Console::Print(L"  service    %s\n", DescribeService(running).c_str());
    for (const std::wstring& name : apps)
        ListApplication(proxy, name, running);
}

void ListIoT(CProxyView& proxy)
{
    for (const std::wstring& product : Section(L"IoT devices", DeviceSources::IOT_KEY))
    {
        for (const std::wstring& id : Subkeys(SubKey(DeviceSources::IOT_KEY, product)))
        {
            std::wstring path;
            const DWORD rc = DeviceIdentity::MakeIoTDevicePath(product, id, path);
            const std::wstring name = product + L"\\" + id;
            const std::wstring excluded =
                rc == ERROR_SUCCESS ? std::wstring() : Console::Format(L"no device path (%lu)", rc);
            PrintDevice(name, proxy.Derive(path, L"IoT " + name, excluded), std::wstring());
        }
    }
}

} // namespace

namespace Devices
{

int List(CArgs& args)
{
    if (!NoMoreArgs(args, L"list"))
        return 2;
    CProxyView proxy;
    proxy.LoadCatalogue();
    Console::Print(L"Published devices (HKLM, 32-bit view), as a proxy starting now would scan them\n");
    Console::Print(L"Catalogue: %s\n", proxy.DescribeCatalogue().c_str());
    ListBus(proxy, DeviceSources::BUS_HID, L"HID devices");
    ListBus(proxy, DeviceSources::BUS_USB, L"USB devices");
    ListHue(proxy);
    ListBroadcast(proxy);
    ListIoT(proxy);
    Console::Print(L"\n%u device(s) the proxy would add, %u it would not\n", proxy.Added(), proxy.Skipped());
    return 0;
}

} // namespace Devices
