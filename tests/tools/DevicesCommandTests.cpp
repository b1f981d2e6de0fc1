// "kaleoctl devices", the stand-in for the device publishers: the registry
// layout its publish and unpublish write and remove, the names and numbers
// it refuses, what its list derives for published devices (junk values
// included), and the broadcast service's presence mutex.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "Handles.h"
#include "TestEnv.h"

using namespace TestEnv;

namespace
{
const std::wstring kDevices = L"Software\\Vexel Kaleo SDK\\Devices";
const std::wstring kApps = L"Software\\Vexel\\KaleoBroadcast\\Apps";
const wchar_t kPresenceMutex[] = L"Global\\{48D72353-C43A-48FB-8AAA-31D9D768E492}";

DWORD Devices(const std::wstring& args, std::string* output = nullptr)
{
    return RunProcess(BinDir() + L"\\kaleoctl.exe", L"devices " + args, 30000, output);
}

// A value as stored: its type and bytes.
struct CRaw
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    bool operator==(const CRaw& other) const { return type == other.type && data == other.data; }
    bool operator<(const CRaw& other) const { return type < other.type || (type == other.type && data < other.data); }
};

void PrintTo(const CRaw& raw, std::ostream* os)
{
    *os << "type " << raw.type << ":";
    for (BYTE b : raw.data)
        *os << " " << static_cast<int>(b);
}

CRaw Text(const std::wstring& text)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

CRaw Dword(DWORD value)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
    return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(value))};
}

using CValues = std::vector<std::pair<std::wstring, CRaw>>;

// The values of a key, sorted by name; empty when it is missing.
CValues ReadValues(const std::wstring& keyPath)
{
    CValues values;
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Put()) != 0)
        return values;
    for (DWORD i = 0;; ++i)
    {
        wchar_t name[256];
        DWORD nameChars = 256;
        BYTE data[1024];
        DWORD size = sizeof(data);
        CRaw raw;
        if (::RegEnumValueW(key.Get(), i, name, &nameChars, nullptr, &raw.type, data, &size) != ERROR_SUCCESS)
            break;
        raw.data.assign(data, data + size);
        values.emplace_back(std::wstring(name, nameChars), raw);
    }
    std::sort(values.begin(), values.end());
    return values;
}

void WriteRaw(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    Common::CRegKey key;
    ASSERT_EQ(0, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                                   nullptr, key.Put(), nullptr));
    ASSERT_EQ(0, ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size));
}

bool PresenceExists()
{
    Common::CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kPresenceMutex));
    return static_cast<bool>(mutex);
}

// The lines of one device (or application) in the list: those indented
// below the line "  <title>".
std::wstring Block(const std::wstring& list, const std::wstring& title)
{
    const size_t at = list.find(L"\n  " + title + L"\n");
    if (at == std::wstring::npos)
        return L"(no block '" + title + L"')";
    size_t end = list.find(L'\n', at + 1);
    while (end != std::wstring::npos && list.compare(end + 1, 4, L"    ") == 0)
        end = list.find(L'\n', end + 1);
    return list.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at);
}

struct CBlockCase
{
    std::wstring title;
    std::vector<std::wstring> lines; // each a part of a line of the block
};

void ExpectBlocks(const std::string& output, const std::vector<CBlockCase>& cases)
{
    const std::wstring list = Widen(output);
    for (const CBlockCase& block : cases)
    {
        const std::wstring text = Block(list, block.title);
        for (const std::wstring& line : block.lines)
            EXPECT_NE(std::wstring::npos, text.find(line)) << Narrow(line) << "\nin:\n" << Narrow(text);
    }
}

class DevicesCommand : public ::testing::Test
{
protected:
    // The catalogue as the installer writes it, in the fixture's install folder.
    void SetUp() override
    {
        // Whatever an earlier demo or run left published goes for the test.
        RegDeleteTreeW32(kDevices);
        RegDeleteTreeW32(L"Software\\Vexel\\KaleoBroadcast");
        std::string output;
        ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe", L"install --path \"" + m_install.InstallPath() + L"\"",
                                 30000, &output))
            << output;
    }

    std::wstring Plugin(const wchar_t* file) const { return m_install.InstallPath() + L"\\bin\\" + file; }

    CInstallFixture m_install; // the SDK root, devices included, put back
    CRegistrySnapshot m_broadcast{L"Software\\Vexel"};
};

TEST_F(DevicesCommand, PublishWritesTheProxysLayoutAndUnpublishRemovesIt)
{
    struct CCase
    {
        std::wstring publish;
        std::wstring key;
        CValues values; // all the key holds, by name
        std::wstring unpublish;
        std::wstring outerKey; // removed along with the device
    };
    const std::wstring hid = kDevices + L"\\HID\\VID_2F1A&PID_0084&MI_00";
    const std::wstring usb = kDevices + L"\\USB\\VID_2F1A&PID_0090";
    const std::wstring iot = kDevices + L"\\IoT\\PID_0401";
    const CCase cases[] = {
        {L"publish hid --hardware VID_2F1A&PID_0084&MI_00 --instance 7&2A0F4C5&0&0000 --container \"{C 0}\"",
         hid + L"\\7&2A0F4C5&0&0000",
         {{L"ContainerId", Text(L"{C 0}")}},
         L"unpublish hid --hardware VID_2F1A&PID_0084&MI_00 --instance 7&2A0F4C5&0&0000",
         hid},
        {L"publish usb --hardware VID_2F1A&PID_0090 --instance 5&1234ABCD&0&1",
         usb + L"\\5&1234ABCD&0&1",
         {},
         L"unpublish usb --hardware VID_2F1A&PID_0090",
         usb},
        {L"publish iot --product PID_0401 --id 0123456789ABCDEF",
         iot + L"\\0123456789ABCDEF",
         {},
         L"unpublish iot --product PID_0401 --id 0123456789ABCDEF",
         iot},
        {L"publish broadcast --name Connect --pid 1234 --index 2 --supported 0x21",
         kApps + L"\\Connect",
         {{L"DeviceSupported", Dword(0x21)}, {L"Index", Dword(2)}, {L"Pid", Dword(1234)}},
         L"unpublish broadcast --name Connect",
         kApps + L"\\Connect"},
        {L"hue --path bridge-1 --bulbs 3,7",
         kDevices + L"\\SmartLighting\\PhilipsHue",
         {{L"Path", Text(L"bridge-1")}, {L"bulbsId", Text(L"3,7")}},
         L"",
         L""},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(Narrow(c.publish));
        std::string output;
        ASSERT_EQ(0u, Devices(c.publish, &output)) << output;
        ASSERT_TRUE(RegKeyExists(c.key));
        EXPECT_EQ(c.values, ReadValues(c.key));
        if (c.unpublish.empty())
            continue;
        ASSERT_EQ(0u, Devices(c.unpublish, &output)) << output;
        EXPECT_FALSE(RegKeyExists(c.key));
        EXPECT_FALSE(RegKeyExists(c.outerKey));
    }
}

TEST_F(DevicesCommand, UnpublishKeepsTheHardwareKeyWhileAnotherInstanceRemains)
{
    const std::wstring hardware = kDevices + L"\\HID\\VID_2F1A&PID_0084";
    ASSERT_EQ(0u, Devices(L"publish hid --hardware VID_2F1A&PID_0084 --instance 1&A&0 --container old"));
    // Published again without an id: none left over from before.
    ASSERT_EQ(0u, Devices(L"publish hid --hardware VID_2F1A&PID_0084 --instance 1&A&0"));
    EXPECT_TRUE(ReadValues(hardware + L"\\1&A&0").empty());
    ASSERT_EQ(0u, Devices(L"publish hid --hardware VID_2F1A&PID_0084 --instance 1&B&0"));

    ASSERT_EQ(0u, Devices(L"unpublish hid --hardware VID_2F1A&PID_0084 --instance 1&A&0"));
    EXPECT_FALSE(RegKeyExists(hardware + L"\\1&A&0"));
    EXPECT_TRUE(RegKeyExists(hardware + L"\\1&B&0"));
    ASSERT_EQ(0u, Devices(L"unpublish hid --hardware VID_2F1A&PID_0084 --instance 1&B&0"));
    EXPECT_FALSE(RegKeyExists(hardware));
    EXPECT_TRUE(RegKeyExists(kDevices + L"\\HID"));
}

TEST_F(DevicesCommand, RefusesNamesThatAddressOtherKeysAndJunkNumbers)
{
    // A device of another publisher that no refused command may touch.
    const std::wstring other = kDevices + L"\\HID\\A\\B";
    RegWriteString(other, L"ContainerId", L"keep");
    const wchar_t* const refused[] = {
        L"publish hid --hardware A\\B --instance C",
        L"unpublish hid --hardware A\\B",
        L"unpublish hid --hardware A --instance B\\",
        L"publish iot --product A --id B\\C",
        L"publish broadcast --name N --pid 12x --index 1 --supported 1",
        L"publish broadcast --name N --pid 1 --index -1 --supported 1",
        L"publish broadcast --name N --pid 1 --index 1 --supported 0x",
        L"publish broadcast --name N --pid 1 --index 1",
        L"publish broadcast --name N\\M --pid 1 --index 1 --supported 1",
        L"publish hid --hardware A",
        L"publish hid --hardware A --instance C stray",
        L"hue --bulbs 3,,7",
        L"hue --bulbs 3,x",
        L"hue --path bridge --unpair",
    };
    for (const wchar_t* args : refused)
    {
        std::string output;
        EXPECT_EQ(2u, Devices(args, &output)) << Narrow(args) << "\n" << output;
        EXPECT_EQ((CValues{{L"ContainerId", Text(L"keep")}}), ReadValues(other)) << Narrow(args);
        EXPECT_FALSE(RegKeyExists(other + L"\\C")) << Narrow(args);
        EXPECT_FALSE(RegKeyExists(kApps)) << Narrow(args);
        EXPECT_FALSE(RegKeyExists(kDevices + L"\\IoT")) << Narrow(args);
        EXPECT_FALSE(RegKeyExists(kDevices + L"\\SmartLighting")) << Narrow(args);
    }
}

TEST_F(DevicesCommand, ListDerivesTheProxysKeysObjectsPipesAndPlugins)
{
    std::string output;
    const wchar_t* const publish[] = {
        L"publish hid --hardware VID_2F1A&PID_0084&MI_00 --instance 7&2A0F4C5&0&0000 --container {C0}",
        L"publish hid --hardware VID_2F1A&PID_0084&MI_01 --instance 7&NOKEY",
        L"publish usb --hardware VID_2F1A&PID_0090 --instance 5&1234ABCD&0&1",
        L"publish usb --hardware VID_2F1A&PID_0090 --instance 5&1234ABCD&0&2",
        L"publish usb --hardware VID_2F1A&PID_0077 --instance 5&77&0&1",
        L"hue --path bridge --bulbs 3,7",
        L"publish broadcast --name Connect --pid 1234 --index 2 --supported 0x21",
        L"publish broadcast --name Idle --pid 0 --index 4 --supported 0x20",
        L"publish iot --product PID_0401 --id 0123456789ABCDEF",
    };
    for (const wchar_t* args : publish)
        ASSERT_EQ(0u, Devices(args, &output)) << Narrow(args) << "\n" << output;

    ASSERT_EQ(0u, Devices(L"list", &output)) << output;
    ExpectBlocks(
        output,
        {
            {L"VID_2F1A&PID_0084&MI_00\\7&2A0F4C5&0&0000",
             {L"key        0x02A0F4C5 (44102853)", L"object     7&2A0F4C5&0&0000 ",
              L"pipe       \\\\.\\pipe\\HID#VID_2F1A&PID_0084&MI_00#7&2A0F4C5&0&0000#\n",
              L"plug-in    " + Plugin(L"KaleoKeyboardPlugin.dll") + L"\n", L"container  \"{C0}\"",
              L"proxy      adds it"}},
            {L"VID_2F1A&PID_0084&MI_01\\7&NOKEY", {L"key        (none", L"proxy      does not add it: "}},
            {L"VID_2F1A&PID_0090\\5&1234ABCD&0&1",
             {L"plug-in    " + Plugin(L"KaleoMousePlugin.dll") + L"\n", L"proxy      adds it"}},
            {L"VID_2F1A&PID_0090\\5&1234ABCD&0&2",
             {L"does not add it: its key is taken by USB VID_2F1A&PID_0090\\5&1234ABCD&0&1"}},
            {L"VID_2F1A&PID_0077\\5&77&0&1", {L"does not add it: no catalogue entry for pid 0x0077"}},
            {L"bulb 7",
             {L"key        0x00000BC9 (3017)", L"pipe       \\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}7\n",
              L"plug-in    " + Plugin(L"KaleoHuePlugin.dll") + L"\n", L"proxy      adds it"}},
            {L"Connect: pid 770 device (DeviceSupported 0x20)",
             {L"key        0x00000BCE (3022)", L"object     {43A54ADB-A530-4E8A-A3C6-88528EECFB17}2 ",
              L"plug-in    " + Plugin(L"KaleoConnectPlugin.dll") + L"\n",
              L"does not add it: the broadcast service does not run"}},
            {L"Connect: pid 818 device (DeviceSupported 0x01)",
             {L"key        0x00000CFA (3322)", L"pipe       \\\\.\\pipe\\{5054F1BB-5F54-494C-9CC4-35F99D9E31BF}2\n"}},
            {L"Idle: pid 770 device (DeviceSupported 0x20)", {L"the application does not run (Pid 0)"}},
            {L"PID_0401\\0123456789ABCDEF",
             {L"key        0x12345678 (305419896)", L"object     0&12345678&9&ABCD ",
              L"plug-in    " + Plugin(L"KaleoIoTPlugin.dll") + L"\n", L"proxy      adds it"}},
        });
}

TEST_F(DevicesCommand, ListShowsJunkValuesAsUnreadable)
{
    ASSERT_EQ(0u, Devices(L"publish hid --hardware VID_2F1A&PID_0084 --instance 7&2A0F4C5&0&0000"));
    const std::wstring instance = kDevices + L"\\HID\\VID_2F1A&PID_0084\\7&2A0F4C5&0&0000";
    const std::wstring hue = kDevices + L"\\SmartLighting\\PhilipsHue";
    const BYTE bytes[] = {1, 2, 3};
    const DWORD one = 1;
    const ULONGLONG wide = 0x100000002ull;
    const std::wstring huge(5000, L'7');
    WriteRaw(instance, L"ContainerId", REG_BINARY, bytes, sizeof(bytes));
    WriteRaw(hue, L"Path", REG_DWORD, &one, sizeof(one));
    WriteRaw(hue, L"bulbsId", REG_SZ, huge.c_str(), static_cast<DWORD>(huge.size() * sizeof(wchar_t)));
    WriteRaw(kApps + L"\\Junk", L"Pid", REG_SZ, L"12", 6);
    WriteRaw(kApps + L"\\Junk", L"Index", REG_QWORD, &wide, sizeof(wide));
    WriteRaw(kApps + L"\\Junk", L"DeviceSupported", REG_BINARY, bytes, 1);

    std::string output;
    ASSERT_EQ(0u, Devices(L"list", &output)) << output;
    const std::wstring list = Widen(output);
    for (const wchar_t* shown : {L"container  (unreadable", L"  Path       (unreadable", L"  bulbsId    (unreadable",
                                 L"Pid (unreadable", L"Index (unreadable", L"DeviceSupported (unreadable"})
        EXPECT_NE(std::wstring::npos, list.find(shown)) << Narrow(shown) << "\nin:\n" << output;
    // An unreadable ContainerId leaves the device to the proxy, with an empty id.
    ExpectBlocks(output, {{L"VID_2F1A&PID_0084\\7&2A0F4C5&0&0000", {L"proxy      adds it"}}});
}

TEST_F(DevicesCommand, BroadcastServiceHoldsThePresenceMutexUntilStopped)
{
    ASSERT_FALSE(PresenceExists());
    CScratchDir dir;
    CChildProcess service;
    ASSERT_TRUE(
        service.Start(BinDir() + L"\\kaleoctl.exe", L"devices broadcast-service --seconds 120", dir / L"service.txt"));
    // The line a script waits for comes once the mutex is held.
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(dir / L"service.txt").size() > 0; }, 30000));
    EXPECT_TRUE(PresenceExists());
    EXPECT_EQ(1u, Devices(L"broadcast-service --seconds 1")) << "a second service";

    std::string output;
    ASSERT_EQ(0u, Devices(L"publish broadcast --name Connect --pid 1234 --index 2 --supported 0x20"));
    ASSERT_EQ(0u, Devices(L"list", &output));
    ExpectBlocks(output, {{L"Connect: pid 770 device (DeviceSupported 0x20)", {L"proxy      adds it"}}});

    ASSERT_EQ(0u, Devices(L"broadcast-service --stop", &output)) << output;
    EXPECT_FALSE(PresenceExists()) << "the stop returns once the mutex is gone";
    EXPECT_EQ(0u, service.Wait(10000));

    // A timed service ends by itself and takes the mutex along.
    EXPECT_EQ(0u, Devices(L"broadcast-service --seconds 1"));
    EXPECT_FALSE(PresenceExists());
}

} // namespace
