#pragma once
// Where other processes publish devices for the proxy, and the fixed names
// of the special device kinds. Shared by the proxy and by the publisher
// stand-in, so both name every key, value and object the same way.
#include <windows.h>

namespace DeviceSources
{

constexpr wchar_t DEVICES_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices";
constexpr wchar_t HID_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\HID";
constexpr wchar_t USB_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\USB";
constexpr wchar_t IOT_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\IoT";
constexpr wchar_t SMART_LIGHTING_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\SmartLighting";
constexpr wchar_t PHILIPS_HUE_NAME[] = L"PhilipsHue";
constexpr wchar_t BROADCAST_APPS_KEY[] = L"Software\\Vexel\\KaleoBroadcast\\Apps";

constexpr wchar_t BUS_HID[] = L"HID";
constexpr wchar_t BUS_USB[] = L"USB";

constexpr wchar_t CONTAINER_ID_VALUE[] = L"ContainerId";
constexpr wchar_t HUE_PATH_VALUE[] = L"Path";
constexpr wchar_t HUE_BULBS_VALUE[] = L"bulbsId";
constexpr wchar_t BROADCAST_PID_VALUE[] = L"Pid";
constexpr wchar_t BROADCAST_INDEX_VALUE[] = L"Index";
constexpr wchar_t BROADCAST_SUPPORTED_VALUE[] = L"DeviceSupported";
constexpr wchar_t DEBUG_PROXY_VALUE[] = L"DebugProxy";

// Held by the broadcast service while it runs.
constexpr wchar_t BROADCAST_PRESENCE_MUTEX[] = L"Global\\{48D72353-C43A-48FB-8AAA-31D9D768E492}";

// Held by the proxy while at least one Hue bulb is attached.
constexpr wchar_t HUE_MUTEX[] = L"Global\\{AA7E4BA0-5FD7-47CB-95E5-1530800FD05C}";

constexpr DWORD BROADCAST_SUPPORTS_770 = 0x20;
constexpr DWORD BROADCAST_SUPPORTS_818 = 0x01;

constexpr DWORD VENDOR_ID = 0x2F1A;
constexpr DWORD PID_PHILIPS_HUE = 769;   // 0x0301
constexpr DWORD PID_BROADCAST_770 = 770; // 0x0302
constexpr DWORD PID_BROADCAST_818 = 818; // 0x0332

// The special kinds: the object text (a global name without "Global\") and
// the base of the data pipe; the device's number follows both.
struct CSpecialKind
{
    DWORD pid;
    const wchar_t* objectText;
    const wchar_t* pipeBase;
};

constexpr CSpecialKind SPECIAL_KINDS[] = {
    {PID_PHILIPS_HUE, L"{AA7E4BA0-5FD7-47CB-95E5-1530800FD05C}",
     L"\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}"},
    {PID_BROADCAST_770, L"{43A54ADB-A530-4E8A-A3C6-88528EECFB17}",
     L"\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}"},
    {PID_BROADCAST_818, L"{A59A8336-5A42-490E-832A-89B58D3F1347}",
     L"\\\\.\\pipe\\{5054F1BB-5F54-494C-9CC4-35F99D9E31BF}"},
};

inline bool IsSpecialPid(DWORD pid) noexcept
{
    return pid == PID_PHILIPS_HUE || pid == PID_BROADCAST_770 || pid == PID_BROADCAST_818;
}

} // namespace DeviceSources
