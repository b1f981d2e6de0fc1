#pragma once
// The values of an app's record under "Software\Vexel Kaleo SDK\Apps" that
// other processes read: the "DevicesSupported" bits and the categories.
#include <windows.h>

namespace AppInfo
{

// "DevicesSupported" bits.
constexpr DWORD DEVICE_KEYBOARD = 0x01;
constexpr DWORD DEVICE_MOUSE = 0x02;
constexpr DWORD DEVICE_HEADSET = 0x04;
constexpr DWORD DEVICE_MOUSEPAD = 0x08;
constexpr DWORD DEVICE_KEYPAD = 0x10;
constexpr DWORD DEVICE_KALEOLINK = 0x20;
constexpr DWORD DEVICE_HOMELIGHTING = 0x80;
// The classes an app may declare itself; home lighting is always added.
constexpr DWORD DEVICE_DECLARED_MASK = 0x3F;
constexpr DWORD DEVICES_ALL = 0xBF;
static_assert((DEVICE_DECLARED_MASK | DEVICE_HOMELIGHTING) == DEVICES_ALL, "bit 0x40 is never set");

struct CDeviceClass
{
    DWORD dwBit;
    const wchar_t* pszName; // also the attribute of "device_supported"
};

// In bit order; home lighting is listed under its own attribute name, the
// file also accepts "philipshue" for it.
constexpr CDeviceClass DEVICE_CLASSES[] = {
    {DEVICE_KEYBOARD, L"keyboard"}, {DEVICE_MOUSE, L"mouse"},         {DEVICE_HEADSET, L"headset"},
    {DEVICE_MOUSEPAD, L"mousepad"}, {DEVICE_KEYPAD, L"keypad"},       {DEVICE_KALEOLINK, L"kaleolink"},
    {DEVICE_HOMELIGHTING, L"homelighting"},
};

constexpr DWORD CATEGORY_APPLICATION = 1;
constexpr DWORD CATEGORY_GAME = 2;

// A declared device mask as stored: the declared classes plus home lighting.
constexpr DWORD StoredDevices(DWORD declared) { return (declared & DEVICE_DECLARED_MASK) | DEVICE_HOMELIGHTING; }
// Anything but "game" is an application.
constexpr DWORD StoredCategory(DWORD category) { return category == CATEGORY_GAME ? CATEGORY_GAME : CATEGORY_APPLICATION; }

} // namespace AppInfo
