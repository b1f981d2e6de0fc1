// kaleoctl devices list: every device published for the proxy, source by
// source in the proxy's scan order (HID, USB, Hue, broadcast, IoT), with the
// key, object, pipe and plug-in the proxy derives for it and why a proxy
// starting now would not add it.
#include <windows.h>
#include <objbase.h>

#include "Console.h"
#include "DeviceScan.h"
#include "DeviceView.h"
#include "Devices.h"

using Devices::CDeviceView;
using Devices::CProxyView;

namespace
{

void Line(const wchar_t* label, const std::wstring& text)
{
    Console::Print(L"    %-10s %s\n", label, text.c_str());
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    if (::StringFromGUID2(guid, text, 40) <= 0)
        return L"(none)";
    // The proxy's fallback when the path's fields do not form a GUID.
    return guid == GUID{} ? std::wstring(text) + L" (all zero: the path forms no GUID)" : std::wstring(text);
}

// Prints each source's description and each device's block as the scan
// meets them.
class CListPrinter : public Devices::CScanSink
{
public:
    void OnText(const std::wstring& text) override { Console::Out(text); }

    void OnDevice(const std::wstring& title, const CDeviceView& view, const std::wstring& container) override
    {
        Console::Print(L"  %s\n", title.c_str());
        Line(L"path", view.path.empty() ? L"(none)" : view.path);
        Line(L"pid",
             view.productId < 0 ? L"(none)" : Console::Format(L"0x%04lX (%ld)", view.productId, view.productId));
        Line(L"key", view.bKey ? Console::Format(L"0x%08lX (%lu)", view.dwKey, view.dwKey)
                               : std::wstring(L"(none: the path gives no key)"));
        Line(L"object", view.objectName.empty()
                            ? std::wstring(L"(none)")
                            : view.objectName + L"  (device mutex Global\\" + view.objectName + L")");
        Line(L"pipe", view.pipeName.empty() ? L"(none)" : view.pipeName);
        Line(L"plug-in", view.pluginPath.empty() ? L"(none)" : view.pluginPath);
        if (!container.empty())
            Line(L"container", container);
        Line(L"guid", GuidText(view.containerGuid));
        Line(L"proxy", view.skipReasons.empty() ? L"adds it" : L"does not add it: " + view.skipReasons);
    }
};

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
    CListPrinter printer;
    ScanPublishedDevices(proxy, printer);
    Console::Print(L"\n%u device(s) the proxy would add, %u it would not\n", proxy.Added(), proxy.Skipped());
    return 0;
}

} // namespace Devices
