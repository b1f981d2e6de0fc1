#pragma once
// The walk over the device sources other processes publish for the proxy,
// in the proxy's scan order (HID, USB, Hue, broadcast, IoT). The proxy adds
// what it meets and kaleoctl shows it, so both see the same devices, values
// and reasons to leave one out. Every value comes from another process: it
// is read through the bounded readers, and one that cannot be used is
// reported with its status and read as empty or 0.
#include <windows.h>
#include <string>
#include <vector>

#include "ServicePresence.h"

namespace DeviceSources
{

enum class ESource
{
    Hid,
    Usb,
    Hue,
    Broadcast,
    IoT,
};

// Why a source leaves a device out (bits); 0: it offers the device.
constexpr DWORD LEFT_OUT_NOT_PAIRED = 0x01;      // the Hue bridge's Path is empty or unusable
constexpr DWORD LEFT_OUT_SERVICE_STOPPED = 0x02; // the broadcast service does not run
constexpr DWORD LEFT_OUT_APP_STOPPED = 0x04;     // the application's Pid is not positive
constexpr DWORD LEFT_OUT_NO_PATH = 0x08;         // the IoT names form no device path

// A value as read: 0, ERROR_FILE_NOT_FOUND when it (or its key) is missing,
// or why it cannot be used. The content stays empty or 0 unless 0.
struct CTextValue
{
    DWORD status = ERROR_FILE_NOT_FOUND;
    std::wstring text;
};

struct CNumberValue
{
    DWORD status = ERROR_FILE_NOT_FOUND;
    DWORD value = 0;
};

// The key of a bus, of the broadcast applications or of the IoT products.
struct CSourceKey
{
    ESource source = ESource::Hid;
    std::wstring keyPath; // below HKLM
    bool opened = false;
    DWORD listStatus = ERROR_FUNCTION_FAILED; // of listing its subkeys; ERROR_NOT_FOUND without any
};

struct CHueBridge
{
    std::wstring keyPath;
    CTextValue path;  // empty: not paired
    CTextValue bulbs; // not read while unpaired unless left-out devices are wanted
    std::vector<LONG> bulbIds;
};

struct CApplication
{
    std::wstring name;
    CNumberValue pid;
    CNumberValue index;
    CNumberValue supported;
};

struct CSourceDevice
{
    ESource source = ESource::Hid;
    std::wstring path;  // as the source builds it; empty when it forms none
    std::wstring group; // bus: hardware id; IoT: product; broadcast: application
    std::wstring item;  // bus: instance id; IoT: device id
    // Bus devices: "ContainerId", its status the open's when the instance
    // key could not be opened.
    CTextValue containerId;
    bool instanceOpened = false;
    LONG number = 0;        // Hue: bulb id; broadcast: the application's Index
    DWORD kindPid = 0;      // broadcast: 770 or 818
    DWORD kindBit = 0;      // broadcast: its DeviceSupported bit
    DWORD pathStatus = 0;   // IoT: why the names form no path
    DWORD leftOut = 0;      // LEFT_OUT_* bits
};

class CSourceVisitor
{
public:
    virtual ~CSourceVisitor() = default;
    // False: the walk skips, without reading them, the devices a source
    // leaves out (what the proxy needs).
    virtual bool WantsLeftOut() const { return true; }
    // True ends a bus walk before its next device.
    virtual bool Stopping() const { return false; }

    virtual void OnSourceKey(const CSourceKey& key) { (void)key; }
    virtual void OnHueBridge(const CHueBridge& bridge) { (void)bridge; }
    virtual void OnBroadcastService(const CServicePresence& presence) { (void)presence; }
    virtual void OnApplication(const CApplication& app) { (void)app; }
    virtual void OnDevice(const CSourceDevice& device) = 0;
};

// One source each; bus is BUS_HID or BUS_USB.
void WalkBus(const wchar_t* bus, CSourceVisitor& visitor);
void WalkHue(CSourceVisitor& visitor);
void WalkBroadcast(CSourceVisitor& visitor);
void WalkIoT(CSourceVisitor& visitor);
// Every source in the proxy's scan order.
void WalkSources(CSourceVisitor& visitor);

} // namespace DeviceSources
