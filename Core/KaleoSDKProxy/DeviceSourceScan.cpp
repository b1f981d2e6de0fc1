#include "DeviceManagerNative.h"

#include <new>

#include "BulbList.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "Handles.h"
#include "LogWriter.h"
#include "Registry.h"

namespace
{

std::wstring SubKey(const std::wstring& parent, const std::wstring& name)
{
    return parent + L"\\" + name;
}

// Names of the subkeys; empty when the key is missing or has none.
std::vector<std::wstring> Subkeys(const std::wstring& keyPath) noexcept
{
    std::vector<std::wstring> names;
    Common::RegEnumSubkeyNames(keyPath, names);
    return names;
}

// A text value another process wrote; empty when missing. A value of the
// wrong type or longer than a record text is logged and read as empty.
std::wstring ReadText(const std::wstring& keyPath, const wchar_t* value, const wchar_t* caller)
{
    std::wstring text;
    const DWORD rc = Common::RegGetString(keyPath, value, text);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
    {
        KLOG(Common::LOG_WARN, L"%s | %s of %s cannot be used | error = %d", caller, value, keyPath.c_str(),
             static_cast<int>(rc));
        text.clear();
    }
    return text;
}

// "ContainerId" of an instance key; empty when missing, logged (when
// asked) and empty when it is of the wrong type or too long.
std::wstring ReadContainerId(HKEY hardware, const std::wstring& instance, const std::wstring& busKey, bool report)
{
    std::wstring text;
    Common::CRegKey key;
    if (::RegOpenKeyExW(hardware, instance.c_str(), 0, Common::KALEO_QUERY_ACCESS, key.Put()) != ERROR_SUCCESS)
        return text;
    const DWORD rc = Common::ReadStringValue(key.Get(), DeviceSources::CONTAINER_ID_VALUE, text);
    if (report && rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
    {
        KLOG(Common::LOG_WARN, L"%s | %s of %s\\...\\%s cannot be used | error = %d", L"CDeviceManagerNative::EnumerateBus",
             DeviceSources::CONTAINER_ID_VALUE, busKey.c_str(), instance.c_str(), static_cast<int>(rc));
        text.clear();
    }
    return text;
}

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

DWORD ReadNumber(const std::wstring& keyPath, const wchar_t* value)
{
    DWORD number = 0;
    if (Common::RegGetDword(keyPath, value, number) != ERROR_SUCCESS)
        number = 0;
    return number;
}

} // namespace

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
template <typename Visit>
ULONGLONG CDeviceManagerNative::WalkBus(const std::wstring& bus, bool report, Visit visit)
{
    // Each key is opened once, relative to its parent: a scan of many
    // devices then costs what listing them costs.
    ULONGLONG print = PRINT_BASIS;
    const std::wstring busKey = SubKey(DeviceSources::DEVICES_KEY, bus);
    Common::CRegKey busHandle;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, busKey.c_str(), 0, Common::KALEO_READ_ACCESS, busHandle.Put()) !=
        ERROR_SUCCESS)
        return print;
    std::vector<std::wstring> hardwareIds;
    Common::EnumSubkeyNames(busHandle.Get(), hardwareIds);
    for (const auto& hardware : hardwareIds)
    {
        Common::CRegKey hardwareHandle;
        if (::RegOpenKeyExW(busHandle.Get(), hardware.c_str(), 0, Common::KALEO_READ_ACCESS, hardwareHandle.Put()) !=
            ERROR_SUCCESS)
            continue;
        std::vector<std::wstring> instances;
        Common::EnumSubkeyNames(hardwareHandle.Get(), instances);
        for (const auto& instance : instances)
        {
            // A stopping manager leaves the rest of a long walk undone.
            if (Stopping())
                return print;
            const std::wstring path = DeviceIdentity::MakeBusDevicePath(bus, hardware, instance);
            const std::wstring containerId = ReadContainerId(hardwareHandle.Get(), instance, busKey, report);
            AddToPrint(print, path);
            AddToPrint(print, containerId);
            visit(path, containerId);
        }
    }
    return print;
}

int CDeviceManagerNative::AddFromBus(const std::wstring& bus, CScan& scan)
{
    int added = 0;
    const ULONGLONG print = WalkBus(bus, true, [&](const std::wstring& path, const std::wstring& containerId) {
        if (AddDevice(path, containerId, scan) == ERROR_SUCCESS)
            ++added;
    });
    BusPrint(bus).store(print);
    return added;
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
        return seen == 0 || WalkBus(bus, false, [](const std::wstring&, const std::wstring&) {}) != seen;
    }
    catch (const std::bad_alloc&)
    {
        return true;
    }
}

int CDeviceManagerNative::AddSmartLightingDevices() noexcept
{
    return Scan([&](CScan& scan) {
        const std::wstring key = SubKey(DeviceSources::SMART_LIGHTING_KEY, DeviceSources::PHILIPS_HUE_NAME);
        const wchar_t* caller = L"CDeviceManagerNative::AddSmartLightingDevices";
        if (ReadText(key, DeviceSources::HUE_PATH_VALUE, caller).empty())
            return 0;
        const std::wstring bulbs = ReadText(key, DeviceSources::HUE_BULBS_VALUE, caller);
        int added = 0;
        for (LONG bulb : DeviceIdentity::ParseBulbList(bulbs))
            if (AddDevice(DeviceIdentity::MakeHueBulbPath(bulb), std::wstring(), scan) == ERROR_SUCCESS)
                ++added;
        return added;
    });
}

int CDeviceManagerNative::AddBroadcastDevices() noexcept
{
    {
        // Applications are published only while the broadcast service runs.
        // A mutex this process may not open still shows that it runs.
        Common::CHandle presence(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, DeviceSources::BROADCAST_PRESENCE_MUTEX));
        if (!presence && ::GetLastError() != ERROR_ACCESS_DENIED)
            return 0;
    }
    return Scan([&](CScan& scan) {
        int added = 0;
        for (const auto& app : Subkeys(DeviceSources::BROADCAST_APPS_KEY))
        {
            const std::wstring key = SubKey(DeviceSources::BROADCAST_APPS_KEY, app);
            if (static_cast<LONG>(ReadNumber(key, DeviceSources::BROADCAST_PID_VALUE)) <= 0)
                continue;
            const LONG index = static_cast<LONG>(ReadNumber(key, DeviceSources::BROADCAST_INDEX_VALUE));
            const DWORD supported = ReadNumber(key, DeviceSources::BROADCAST_SUPPORTED_VALUE);
            if ((supported & DeviceSources::BROADCAST_SUPPORTS_770) &&
                AddDevice(DeviceIdentity::MakeBroadcastPath(DeviceSources::PID_BROADCAST_770, index), std::wstring(),
                          scan) == ERROR_SUCCESS)
                ++added;
            if ((supported & DeviceSources::BROADCAST_SUPPORTS_818) &&
                AddDevice(DeviceIdentity::MakeBroadcastPath(DeviceSources::PID_BROADCAST_818, index), std::wstring(),
                          scan) == ERROR_SUCCESS)
                ++added;
        }
        return added;
    });
}

int CDeviceManagerNative::AddIoTDevices() noexcept
{
    return Scan([&](CScan& scan) {
        int added = 0;
        for (const auto& product : Subkeys(DeviceSources::IOT_KEY))
        {
            for (const auto& id : Subkeys(SubKey(DeviceSources::IOT_KEY, product)))
            {
                std::wstring path;
                DeviceIdentity::MakeIoTDevicePath(product, id, path);
                if (AddDevice(path, std::wstring(), scan) == ERROR_SUCCESS)
                    ++added;
            }
        }
        return added;
    });
}
