#include "SourceWalk.h"

#include "BulbList.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "Handles.h"
#include "Registry.h"

namespace DeviceSources
{
namespace
{

std::wstring SubKey(const std::wstring& parent, const std::wstring& name)
{
    return parent + L"\\" + name;
}

// Opens a source's key and lists its subkeys; the names, empty when it is
// missing or has none.
std::vector<std::wstring> ListKey(ESource source, const std::wstring& keyPath, Common::CRegKey& key,
                                  CSourceVisitor& visitor)
{
    CSourceKey listed;
    listed.source = source;
    listed.keyPath = keyPath;
    std::vector<std::wstring> names;
    listed.opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, Common::KALEO_READ_ACCESS, key.Put()) ==
                    ERROR_SUCCESS;
    if (listed.opened)
        listed.listStatus = Common::EnumSubkeyNames(key.Get(), names);
    visitor.OnSourceKey(listed);
    return names;
}

std::vector<std::wstring> Subkeys(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    Common::RegEnumSubkeyNames(keyPath, names);
    return names;
}

CTextValue ReadText(const std::wstring& keyPath, const wchar_t* name)
{
    CTextValue value;
    value.status = Common::RegGetString(keyPath, name, value.text);
    if (value.status != ERROR_SUCCESS)
        value.text.clear();
    return value;
}

CNumberValue ReadNumber(const std::wstring& keyPath, const wchar_t* name)
{
    CNumberValue value;
    value.status = Common::RegGetDword(keyPath, name, value.value);
    if (value.status != ERROR_SUCCESS)
        value.value = 0;
    return value;
}

// "ContainerId" of an instance, opened relative to its hardware key.
void ReadContainerId(HKEY hardware, CSourceDevice& device)
{
    Common::CRegKey key;
    const LONG rc = ::RegOpenKeyExW(hardware, device.item.c_str(), 0, Common::KALEO_QUERY_ACCESS, key.Put());
    device.instanceOpened = rc == ERROR_SUCCESS;
    device.containerId = CTextValue();
    device.containerId.status = device.instanceOpened
                                    ? Common::ReadStringValue(key.Get(), CONTAINER_ID_VALUE, device.containerId.text)
                                    : static_cast<DWORD>(rc);
}

struct CBroadcastKind
{
    DWORD bit;
    DWORD pid;
};

constexpr CBroadcastKind BROADCAST_KINDS[] = {
    {BROADCAST_SUPPORTS_770, PID_BROADCAST_770},
    {BROADCAST_SUPPORTS_818, PID_BROADCAST_818},
};

void WalkApplication(const std::wstring& name, DWORD serviceLeftOut, CSourceVisitor& visitor)
{
    const std::wstring key = SubKey(BROADCAST_APPS_KEY, name);
    CApplication app;
    app.name = name;
    app.pid = ReadNumber(key, BROADCAST_PID_VALUE);
    const DWORD leftOut = serviceLeftOut | (static_cast<LONG>(app.pid.value) <= 0 ? LEFT_OUT_APP_STOPPED : 0);
    if (leftOut != 0 && !visitor.WantsLeftOut())
        return;
    app.index = ReadNumber(key, BROADCAST_INDEX_VALUE);
    app.supported = ReadNumber(key, BROADCAST_SUPPORTED_VALUE);
    visitor.OnApplication(app);
    for (const CBroadcastKind& kind : BROADCAST_KINDS)
    {
        if (!(app.supported.value & kind.bit))
            continue;
        CSourceDevice device;
        device.source = ESource::Broadcast;
        device.group = name;
        device.number = static_cast<LONG>(app.index.value);
        device.kindPid = kind.pid;
        device.kindBit = kind.bit;
        device.path = DeviceIdentity::MakeBroadcastPath(kind.pid, device.number);
        device.leftOut = leftOut;
        visitor.OnDevice(device);
    }
}

} // namespace

void WalkBus(const wchar_t* bus, CSourceVisitor& visitor)
{
    // Each key is opened once, relative to its parent: a scan of many
    // devices then costs what listing them costs.
    const ESource source = std::wstring(bus) == BUS_USB ? ESource::Usb : ESource::Hid;
    Common::CRegKey busKey;
    for (const auto& hardware : ListKey(source, SubKey(DEVICES_KEY, bus), busKey, visitor))
    {
        Common::CRegKey hardwareKey;
        if (::RegOpenKeyExW(busKey.Get(), hardware.c_str(), 0, Common::KALEO_READ_ACCESS, hardwareKey.Put()) !=
            ERROR_SUCCESS)
            continue;
        std::vector<std::wstring> instances;
        Common::EnumSubkeyNames(hardwareKey.Get(), instances);
        for (const auto& instance : instances)
        {
            // A stopping manager leaves the rest of a long walk undone.
            if (visitor.Stopping())
                return;
            CSourceDevice device;
            device.source = source;
            device.group = hardware;
            device.item = instance;
            device.path = DeviceIdentity::MakeBusDevicePath(bus, hardware, instance);
            ReadContainerId(hardwareKey.Get(), device);
            visitor.OnDevice(device);
        }
    }
}

void WalkHue(CSourceVisitor& visitor)
{
    CHueBridge bridge;
    bridge.keyPath = SubKey(SMART_LIGHTING_KEY, PHILIPS_HUE_NAME);
    bridge.path = ReadText(bridge.keyPath, HUE_PATH_VALUE);
    const DWORD leftOut = bridge.path.text.empty() ? LEFT_OUT_NOT_PAIRED : 0;
    if (leftOut == 0 || visitor.WantsLeftOut())
    {
        bridge.bulbs = ReadText(bridge.keyPath, HUE_BULBS_VALUE);
        if (bridge.bulbs.status == ERROR_SUCCESS)
            bridge.bulbIds = DeviceIdentity::ParseBulbList(bridge.bulbs.text);
    }
    visitor.OnHueBridge(bridge);
    for (LONG bulb : bridge.bulbIds)
    {
        CSourceDevice device;
        device.source = ESource::Hue;
        device.number = bulb;
        device.path = DeviceIdentity::MakeHueBulbPath(bulb);
        device.leftOut = leftOut;
        visitor.OnDevice(device);
    }
}

void WalkBroadcast(CSourceVisitor& visitor)
{
    // Applications are published only while the broadcast service runs.
    const CServicePresence presence = FindBroadcastService();
    const DWORD leftOut = presence.running ? 0 : LEFT_OUT_SERVICE_STOPPED;
    if (leftOut != 0 && !visitor.WantsLeftOut())
        return;
    Common::CRegKey appsKey;
    const std::vector<std::wstring> apps = ListKey(ESource::Broadcast, BROADCAST_APPS_KEY, appsKey, visitor);
    visitor.OnBroadcastService(presence);
    for (const auto& app : apps)
        WalkApplication(app, leftOut, visitor);
}

void WalkIoT(CSourceVisitor& visitor)
{
    Common::CRegKey iotKey;
    for (const auto& product : ListKey(ESource::IoT, IOT_KEY, iotKey, visitor))
    {
        for (const auto& id : Subkeys(SubKey(IOT_KEY, product)))
        {
            CSourceDevice device;
            device.source = ESource::IoT;
            device.group = product;
            device.item = id;
            device.pathStatus = DeviceIdentity::MakeIoTDevicePath(product, id, device.path);
            device.leftOut = device.pathStatus == ERROR_SUCCESS ? 0 : LEFT_OUT_NO_PATH;
            if (device.leftOut == 0 || visitor.WantsLeftOut())
                visitor.OnDevice(device);
        }
    }
}

void WalkSources(CSourceVisitor& visitor)
{
    WalkBus(BUS_HID, visitor);
    WalkBus(BUS_USB, visitor);
    WalkHue(visitor);
    WalkBroadcast(visitor);
    WalkIoT(visitor);
}

} // namespace DeviceSources
