// kaleoctl devices publish / unpublish / hue: writes and removes the registry
// entries through which the processes outside the SDK publish devices for
// the proxy: bus devices (HID, USB), IoT devices, broadcast applications and
// the Hue bridge's bulb list. Values are written with the types the proxy
// reads: texts as REG_SZ, numbers as REG_DWORD.
#include <windows.h>

#include "Console.h"
#include "DeviceSources.h"
#include "Devices.h"
#include "Handles.h"
#include "Registry.h"

using namespace Common;

namespace
{

enum class ESourceKind
{
    Bus,
    IoT,
    Broadcast
};

// A source with one or two levels of subkeys below its key, each level
// named by an option.
struct CSource
{
    const wchar_t* name;
    ESourceKind kind;
    const wchar_t* key;
    const wchar_t* outerOption;
    const wchar_t* innerOption; // null: one level only
};

const CSource kSources[] = {
    {L"hid", ESourceKind::Bus, DeviceSources::HID_KEY, L"--hardware", L"--instance"},
    {L"usb", ESourceKind::Bus, DeviceSources::USB_KEY, L"--hardware", L"--instance"},
    {L"iot", ESourceKind::IoT, DeviceSources::IOT_KEY, L"--product", L"--id"},
    {L"broadcast", ESourceKind::Broadcast, DeviceSources::BROADCAST_APPS_KEY, L"--name", nullptr},
};

// What a publish writes besides the keys.
struct CValues
{
    bool bContainer = false;
    std::wstring container;
    DWORD dwPid = 0;
    DWORD dwIndex = 0;
    DWORD dwSupported = 0;
};

const CSource* TakeSource(CArgs& args, const wchar_t* command)
{
    if (!args.empty())
    {
        for (const CSource& source : kSources)
        {
            if (args[0] == source.name)
            {
                args.erase(args.begin());
                return &source;
            }
        }
    }
    Console::Error(L"devices %s: expected hid, usb, iot or broadcast (see 'kaleoctl devices')\n", command);
    return nullptr;
}

// False (message printed) when a required name is missing or a given one
// is no key name.
bool TakeName(CArgs& args, const wchar_t* option, bool required, std::wstring& name)
{
    if (!TakeOption(args, option, name))
    {
        if (required)
            Console::Error(L"devices: %s is required\n", option);
        return !required;
    }
    if (Devices::IsKeyName(name))
        return true;
    Console::Error(L"devices: %s '%s' is no key name (1 to 255 characters, no '\\')\n", option, name.c_str());
    return false;
}

bool TakeNumber(CArgs& args, const wchar_t* option, bool allowHex, DWORD& value)
{
    std::wstring text;
    unsigned long parsed = 0;
    if (!TakeOption(args, option, text))
        Console::Error(L"devices: %s is required\n", option);
    else if (!ParseNumber(text, parsed, allowHex))
        Console::Error(L"devices: %s needs a 32-bit number, not '%s'\n", option, text.c_str());
    else
    {
        value = static_cast<DWORD>(parsed);
        return true;
    }
    return false;
}

bool TakeValues(CArgs& args, const CSource& source, CValues& values)
{
    switch (source.kind)
    {
    case ESourceKind::Bus:
        values.bContainer = TakeOption(args, L"--container", values.container);
        if (values.bContainer && !Devices::IsReadableText(values.container))
        {
            Console::Error(L"devices: --container takes at most %lu characters\n", REG_TEXT_MAX_CHARS);
            return false;
        }
        return true;
    case ESourceKind::Broadcast: {
        // All three, so that no value is left over from an earlier publish.
        const bool pid = TakeNumber(args, L"--pid", false, values.dwPid);
        const bool index = TakeNumber(args, L"--index", true, values.dwIndex);
        const bool supported = TakeNumber(args, L"--supported", true, values.dwSupported);
        return pid && index && supported;
    }
    case ESourceKind::IoT:
        break;
    }
    return true;
}

std::wstring SubKey(const std::wstring& parent, const std::wstring& name)
{
    return parent + L"\\" + name;
}

DWORD SetText(HKEY key, const wchar_t* name, const std::wstring& text)
{
    // With the terminator, as REG_SZ values are stored.
    return static_cast<DWORD>(::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

DWORD SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    return static_cast<DWORD>(
        ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

DWORD CreateKey(const std::wstring& path, CRegKey& key)
{
    return static_cast<DWORD>(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KALEO_ALL_ACCESS,
                                                nullptr, key.Put(), nullptr));
}

DWORD WriteValues(HKEY key, const CSource& source, const CValues& values)
{
    if (source.kind == ESourceKind::Bus)
    {
        if (values.bContainer)
            return SetText(key, DeviceSources::CONTAINER_ID_VALUE, values.container);
        // Published without one: no id left over from an earlier publish.
        const LONG rc = ::RegDeleteValueW(key, DeviceSources::CONTAINER_ID_VALUE);
        return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(rc);
    }
    if (source.kind != ESourceKind::Broadcast)
        return ERROR_SUCCESS;
    DWORD rc = SetDword(key, DeviceSources::BROADCAST_PID_VALUE, values.dwPid);
    if (rc == ERROR_SUCCESS)
        rc = SetDword(key, DeviceSources::BROADCAST_INDEX_VALUE, values.dwIndex);
    if (rc == ERROR_SUCCESS)
        rc = SetDword(key, DeviceSources::BROADCAST_SUPPORTED_VALUE, values.dwSupported);
    return rc;
}

std::wstring DescribeValues(const CSource& source, const CValues& values)
{
    if (source.kind == ESourceKind::Bus)
        return values.bContainer ? L"  ContainerId = \"" + values.container + L"\"" : L"  (no ContainerId)";
    if (source.kind == ESourceKind::Broadcast)
        return Console::Format(L"  Pid = %lu, Index = %lu, DeviceSupported = 0x%08lX", values.dwPid, values.dwIndex,
                               values.dwSupported);
    return std::wstring();
}

// Removes parent\name with everything below it.
DWORD DeleteTree(const std::wstring& parentPath, const std::wstring& name)
{
    CRegKey parent;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KALEO_ALL_ACCESS, parent.Put());
    if (rc != ERROR_SUCCESS)
        return static_cast<DWORD>(rc);
    {
        CRegKey child;
        rc = ::RegOpenKeyExW(parent.Get(), name.c_str(), 0, KALEO_ALL_ACCESS, child.Put());
        if (rc == ERROR_SUCCESS)
            rc = ::RegDeleteTreeW(child.Get(), nullptr);
    }
    if (rc == ERROR_SUCCESS)
        rc = ::RegDeleteKeyExW(parent.Get(), name.c_str(), KEY_WOW64_32KEY, 0);
    return static_cast<DWORD>(rc);
}

// True when the key holds neither subkeys nor values.
bool IsEmptyKey(const std::wstring& path)
{
    CRegKey key;
    DWORD subkeys = 0;
    DWORD values = 0;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KALEO_READ_ACCESS, key.Put()) == ERROR_SUCCESS &&
           ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

int ReportRemoval(DWORD rc, const std::wstring& path)
{
    if (rc == ERROR_SUCCESS)
    {
        Console::Print(L"unpublished: removed HKLM\\%s\n", path.c_str());
        return 0;
    }
    if (rc == ERROR_FILE_NOT_FOUND)
    {
        Console::Print(L"unpublish: HKLM\\%s is not published; nothing to remove\n", path.c_str());
        return 0;
    }
    Console::Error(L"devices unpublish: cannot remove HKLM\\%s (%lu)\n", path.c_str(), rc);
    return 1;
}

// "3,7": decimal ids of 0 to 0x7FFFFFFF separated by single commas; empty
// for no bulbs.
bool IsBulbList(const std::wstring& text)
{
    if (!Devices::IsReadableText(text))
        return false;
    size_t at = 0;
    while (at < text.size())
    {
        const size_t comma = text.find(L',', at);
        const size_t end = comma == std::wstring::npos ? text.size() : comma;
        unsigned long id = 0;
        if (!ParseNumber(text.substr(at, end - at), id, 0, 0x7FFFFFFFul))
            return false;
        if (comma == text.size() - 1)
            return false; // a trailing comma
        at = comma == std::wstring::npos ? text.size() : comma + 1;
    }
    return true;
}

} // namespace

namespace Devices
{

int Publish(CArgs& args)
{
    const CSource* source = TakeSource(args, L"publish");
    if (!source)
        return 2;
    std::wstring outer;
    std::wstring inner;
    CValues values;
    if (!TakeName(args, source->outerOption, true, outer) ||
        (source->innerOption && !TakeName(args, source->innerOption, true, inner)) ||
        !TakeValues(args, *source, values) || !NoMoreArgs(args, L"publish"))
        return 2;

    std::wstring path = SubKey(source->key, outer);
    if (source->innerOption)
        path = SubKey(path, inner);
    CRegKey key;
    DWORD rc = CreateKey(path, key);
    if (rc == ERROR_SUCCESS)
        rc = WriteValues(key.Get(), *source, values);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"devices publish: cannot write HKLM\\%s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    Console::Print(L"published: HKLM\\%s%s\n", path.c_str(), DescribeValues(*source, values).c_str());
    return 0;
}

int Unpublish(CArgs& args)
{
    const CSource* source = TakeSource(args, L"unpublish");
    if (!source)
        return 2;
    std::wstring outer;
    std::wstring inner;
    if (!TakeName(args, source->outerOption, true, outer) ||
        (source->innerOption && !TakeName(args, source->innerOption, false, inner)) || !NoMoreArgs(args, L"unpublish"))
        return 2;

    const std::wstring outerPath = SubKey(source->key, outer);
    if (inner.empty())
        return ReportRemoval(DeleteTree(source->key, outer), outerPath);
    const DWORD rc = DeleteTree(outerPath, inner);
    const int result = ReportRemoval(rc, SubKey(outerPath, inner));
    // The last device of a hardware id or product takes its key along.
    if (rc == ERROR_SUCCESS && IsEmptyKey(outerPath))
        return ReportRemoval(DeleteTree(source->key, outer), outerPath);
    return result;
}

int Hue(CArgs& args)
{
    std::wstring path;
    std::wstring bulbs;
    const bool unpair = TakeFlag(args, L"--unpair");
    const bool setPath = TakeOption(args, L"--path", path) || unpair;
    const bool setBulbs = TakeOption(args, L"--bulbs", bulbs);
    if (!NoMoreArgs(args, L"hue"))
        return 2;
    if (unpair && !path.empty())
    {
        Console::Err(L"devices hue: --unpair and --path exclude each other\n");
        return 2;
    }
    if (!setPath && !setBulbs)
    {
        Console::Err(L"devices hue: give --path TEXT, --unpair or --bulbs LIST\n");
        return 2;
    }
    if (!IsReadableText(path))
    {
        Console::Error(L"devices hue: --path takes at most %lu characters\n", REG_TEXT_MAX_CHARS);
        return 2;
    }
    if (setBulbs && !IsBulbList(bulbs))
    {
        Console::Error(L"devices hue: --bulbs takes decimal ids separated by ',' (e.g. 3,7), not '%s'\n",
                       bulbs.c_str());
        return 2;
    }

    const std::wstring keyPath = SubKey(DeviceSources::SMART_LIGHTING_KEY, DeviceSources::PHILIPS_HUE_NAME);
    CRegKey key;
    DWORD rc = CreateKey(keyPath, key);
    if (rc == ERROR_SUCCESS && setPath)
        rc = SetText(key.Get(), DeviceSources::HUE_PATH_VALUE, path);
    if (rc == ERROR_SUCCESS && setBulbs)
        rc = SetText(key.Get(), DeviceSources::HUE_BULBS_VALUE, bulbs);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"devices hue: cannot write HKLM\\%s (%lu)\n", keyPath.c_str(), rc);
        return 1;
    }
    Console::Print(L"hue: HKLM\\%s\n", keyPath.c_str());
    if (setPath)
        Console::Print(L"  %s = \"%s\"%s\n", DeviceSources::HUE_PATH_VALUE, path.c_str(),
                       path.empty() ? L" (not paired)" : L"");
    if (setBulbs)
        Console::Print(L"  %s = \"%s\"\n", DeviceSources::HUE_BULBS_VALUE, bulbs.c_str());
    return 0;
}

} // namespace Devices
