#pragma once
// Every device published for the proxy, met by the proxy's own walk over
// the sources (HID, USB, Hue, broadcast, IoT, in its scan order). Each device
// is derived through a CProxyView, so its key, pipe and reasons are the
// proxy's; the sink decides what to do with it (print it, look for a key).
#include <windows.h>
#include <string>

#include "DeviceView.h"

namespace Devices
{

class CScanSink
{
public:
    virtual ~CScanSink() = default;
    // A line describing a source: its key, the Hue bridge, an application.
    virtual void OnText(const std::wstring& text) { (void)text; }
    // One device; `container` describes a bus device's ContainerId (empty
    // for the other sources).
    virtual void OnDevice(const std::wstring& title, const CDeviceView& view, const std::wstring& container) = 0;
};

// Walks the published devices with the catalogue `proxy` has loaded.
void ScanPublishedDevices(CProxyView& proxy, CScanSink& sink);

// The published device whose key is `key`: the one a proxy starting now
// would add under that key, else the first one that derives it (the proxy
// may have added it before, while the catalogue or a source allowed it;
// its skipReasons say why a fresh proxy would not). False when no
// published device derives the key.
bool FindPublishedDevice(DWORD key, CDeviceView& found);

} // namespace Devices
