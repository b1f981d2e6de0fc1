// "kaleoctl netdev", the stand-in for the SDK processes around the network
// device managers, and the sample plug-ins the managers load: the files
// read back with the managers' keys and layouts, the registry values and
// the command event a module wakes on, and what a plug-in copy journals and
// answers when it is loaded and called as a manager calls it.
#include <gtest/gtest.h>
#include <windows.h>
#include <nlohmann/json.hpp>
#include <cstring>
#include <string>
#include <vector>

#include "DeviceInfo.h"
#include "Handles.h"
#include "PluginControl.h"
#include "TestEnv.h"

using namespace TestEnv;
using nlohmann::json;

namespace
{
const std::wstring kHueKey = L"Software\\Vexel Kaleo SDK\\Devices\\SmartLighting\\PhilipsHue";
const std::wstring kIoTKey = L"Software\\Vexel Kaleo SDK\\Devices\\IoT";
const char kHueXorKey[] = "Qd0x7E4BLmn0x0A2C";
const char kIoTXorKey[] = "Qd0x7E4BWtr";

DWORD NetDev(const std::wstring& args, std::string* output = nullptr)
{
    return RunProcess(BinDir() + L"\\kaleoctl.exe", L"netdev " + args, 30000, output);
}

std::string Unscramble(std::string bytes, const std::string& key)
{
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

std::string FileText(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(::towupper(c));
    return text;
}

std::wstring RegText(const std::wstring& key, const std::wstring& name)
{
    std::wstring value = L"(absent)";
    RegReadString(key, name, value);
    return value;
}

// The IoT list as the module reads it: the length field must cover the
// text exactly as written.
json ReadIoTList(const std::wstring& path)
{
    const std::string bytes = FileText(path);
    if (bytes.size() < 4)
        return json::value_t::discarded;
    int32_t length = 0;
    std::memcpy(&length, bytes.data(), 4);
    EXPECT_EQ(static_cast<size_t>(length), bytes.size() - 4);
    return json::parse(Unscramble(bytes.substr(4), kIoTXorKey), nullptr, false);
}

TEST(NetDevCommand, HueWritesTheBridgeDocumentUnderTheModuleKey)
{
    CRegistrySnapshot registry(kRootKey);
    CScratchDir dir;
    const std::wstring file = dir / L"hue.json";
    // Names outside ASCII are written as UTF-8, the encoding the module reads.
    const json bridge = json::parse(R"({"Bridges":[{"Id":"001788fffe123abc","Name":"K\u00fcche","IpAddress":"192.168.1.20",
        "SelectedGroup":"7","Groups":{"1":{"Id":"1","Lights":["3","4"]},"7":{"Id":"7","Lights":[]}}}]})");
    const json bare =
        json::parse(R"({"Bridges":[{"Id":"b","Name":"","IpAddress":"","SelectedGroup":"","Groups":{}}]})");
    struct CCase
    {
        std::wstring args;
        json document;    // discarded: compare `text` instead
        std::string text; // the file's unscrambled bytes
        bool scrambled;
        bool setsPath;
    };
    const CCase cases[] = {
        {L"--id 001788fffe123abc --name K\u00FCche --ip 192.168.1.20 --group 1=3,4 --group 7= --selected 7", bridge, "", true,
         true},
        {L"--id b", bare, "", true, true},
        {L"--raw \"{not json\" --no-path", json::value_t::discarded, "{not json", true, false},
        {L"--raw \"[1]\" --plain --no-path", json::value_t::discarded, "[1]", false, false},
        {L"--raw \"\u00FC\" --plain --no-path", json::value_t::discarded, "\xC3\xBC", false, false},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(Narrow(c.args));
        RegWriteString(kHueKey, L"Path", L"before");
        ASSERT_EQ(0u, NetDev(L"hue --file \"" + file + L"\" " + c.args));
        const std::string stored = FileText(file);
        const std::string text = c.scrambled ? Unscramble(stored, kHueXorKey) : stored;
        if (c.document.is_discarded())
            EXPECT_EQ(c.text, text);
        else
            EXPECT_EQ(c.document, json::parse(text, nullptr, false)) << text;
        EXPECT_EQ(c.setsPath ? file : L"before", RegText(kHueKey, L"Path"));
    }
    // Refused: no file, both --id and --raw, a group without an id.
    for (const wchar_t* args : {L"hue --id b", L"hue --file x --id b --raw t", L"hue --file x --id b --group =1"})
        EXPECT_EQ(2u, NetDev(args + std::wstring())) << Narrow(args);
}

TEST(NetDevCommand, IoTEditsRoundTripThroughTheLengthPrefixedList)
{
    CRegistrySnapshot registry(kRootKey);
    CScratchDir dir;
    const std::wstring file = dir / L"iot.bin";
    const std::wstring at = L" --file \"" + file + L"\"";
    const json a = {{"pid", 1025},
                    {"eid", 0},
                    {"handle", 4294967296ull},
                    {"device_name", ""},
                    {"mac_address", "aa:bb:cc:dd:ee:01"},
                    {"ip_address", "10.0.0.5"},
                    {"serial_number", ""}};
    const json b = {{"pid", 2593},
                    {"eid", 3},
                    {"handle", 0},
                    {"device_name", "K\xC3\xBC" "che"},
                    {"mac_address", "aa:bb:cc:dd:ee:02"},
                    {"ip_address", ""},
                    {"serial_number", "S2"}};
    json aChanged = a;
    aChanged["ip_address"] = "10.0.0.9";
    aChanged["pid"] = 1026;
    struct CStep
    {
        std::wstring args;
        DWORD exitCode;
        json list; // the list afterwards
    };
    const CStep steps[] = {
        {L"iot add --mac aa:bb:cc:dd:ee:01 --pid 0x0401 --ip 10.0.0.5 --handle 4294967296", 0, {a}},
        {L"iot add --mac aa:bb:cc:dd:ee:02 --pid 2593 --eid 3 --name K\u00FCche --serial S2", 0, {a, b}},
        {L"iot add --mac AA:BB:CC:DD:EE:02 --pid 1", 1, {a, b}},
        {L"iot change --mac AA:BB:cc:dd:ee:01 --ip 10.0.0.9 --pid 1026", 0, {aChanged, b}},
        {L"iot change --mac 00:00:00:00:00:00 --ip 1.2.3.4", 1, {aChanged, b}},
        {L"iot remove --mac AA:BB:CC:DD:EE:02", 0, {aChanged}},
        {L"iot remove --mac aa:bb:cc:dd:ee:02", 1, {aChanged}},
        {L"iot clear", 0, json::array()},
    };
    for (const CStep& step : steps)
    {
        SCOPED_TRACE(Narrow(step.args));
        ASSERT_EQ(step.exitCode, NetDev(step.args + at));
        EXPECT_EQ(step.list, ReadIoTList(file));
    }
    EXPECT_EQ(file, RegText(kIoTKey, L"Path"));

    // A hostile length field is written as given, and the editor refuses
    // to take a list from such a file rather than guess.
    for (const wchar_t* length : {L"-1", L"1000"})
    {
        SCOPED_TRACE(Narrow(length));
        ASSERT_EQ(0u, NetDev(L"iot raw --text [] --no-path --length " + std::wstring(length) + at));
        const std::string before = FileText(file);
        int32_t field = 0;
        std::memcpy(&field, before.data(), 4);
        EXPECT_EQ(std::stol(length), field);
        EXPECT_EQ("[]", Unscramble(before.substr(4), kIoTXorKey));
        EXPECT_EQ(1u, NetDev(L"iot add --mac aa:bb:cc:dd:ee:03 --pid 1" + at));
        EXPECT_EQ(before, FileText(file));
    }
}

TEST(NetDevCommand, SendWritesTheWordThenSetsTheModuleEvent)
{
    CRegistrySnapshot registry(kRootKey);
    struct CCase
    {
        const wchar_t* module;
        std::wstring key;
        const wchar_t* event;
        const wchar_t* word;
    };
    const CCase cases[] = {
        {L"hue", kHueKey, L"Global\\{E1E6E8C5-6E1C-465A-ADB8-3E213B1E2E36}", L"Load"},
        {L"iot", kIoTKey, L"Global\\{FB2F2BAB-9609-4F75-8C15-6E2F797B5800}", L"Reset"},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(Narrow(c.module));
        {
            Common::CHandle event(::CreateEventW(nullptr, TRUE, FALSE, c.event));
            ASSERT_TRUE(event);
            ASSERT_EQ(0u, NetDev(std::wstring(L"send ") + c.module + L" " + c.word));
            EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0));
            EXPECT_EQ(c.word, RegText(c.key, L"Event"));
        }
        // Nobody holds the event now: the word is written, the send fails.
        std::string output;
        EXPECT_EQ(1u, NetDev(std::wstring(L"send ") + c.module + L" Other", &output));
        EXPECT_NE(std::string::npos, output.find("cannot be opened")) << output;
        EXPECT_EQ(L"Other", RegText(c.key, L"Event"));
    }
}

// ---------------------------------------------------------------------------
// The sample plug-ins, loaded from a copy in InstallPath\bin as a device
// manager loads them.

template <typename TRecord>
using FnInit = int(__cdecl*)(TRecord);
using FnUnInit = void(__cdecl*)();

template <size_t N>
void Fill(wchar_t (&field)[N], const std::wstring& text)
{
    ASSERT_LE(text.size(), N);
    std::memcpy(field, text.data(), text.size() * sizeof(wchar_t));
}

std::vector<std::string> JournalLines(const std::wstring& installPath)
{
    std::vector<std::string> lines;
    const std::string text = FileText(installPath + L"\\PluginJournal.txt");
    for (size_t start = 0; start < text.size();)
    {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            break;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::string Pid()
{
    return std::to_string(::GetCurrentProcessId());
}

class CPluginCopy
{
public:
    CPluginCopy(const std::wstring& plugin, const std::wstring& copy)
    {
        EXPECT_TRUE(::CopyFileW(plugin.c_str(), copy.c_str(), FALSE));
        m_module.Reset(::LoadLibraryW(copy.c_str()));
        EXPECT_TRUE(m_module);
    }
    template <typename T>
    T Export(const char* name) const
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name)));
    }
    void Unload() { m_module.Reset(); }

private:
    Common::CModule m_module;
};

TEST(SamplePlugins, ExportPlainInitAndUnInitExceptTheOneWithoutInit)
{
    for (const wchar_t* name : {L"KaleoHuePlugin.dll", L"KaleoIoTPlugin.dll", L"KaleoNoInitPlugin.dll"})
    {
        SCOPED_TRACE(Narrow(name));
        Common::CModule module(::LoadLibraryW((BinDir() + L"\\" + name).c_str()));
        ASSERT_TRUE(module);
        EXPECT_EQ(std::wstring(name) != L"KaleoNoInitPlugin.dll", ::GetProcAddress(module.Get(), "Init") != nullptr);
        EXPECT_NE(nullptr, ::GetProcAddress(module.Get(), "UnInit"));
    }
}

TEST(SamplePlugins, IoTCopyAnswersFromTheControlFileAndJournalsEachCall)
{
    using CRecord = Common::IoT::_DEVICEINFOTYPE;
    CInstallFixture install;
    // As a device manager does: from the plug-in the installer put in bin.
    ASSERT_EQ(0u,
              RunProcess(BinDir() + L"\\kaleoctl.exe", L"install --path \"" + install.InstallPath() + L"\"", 30000));
    const std::wstring copy = install.InstallPath() + L"\\bin\\2F1A0401-00FF-FFFF-0000-AABBCCDDEE01.mod";
    CPluginCopy plugin(install.InstallPath() + L"\\bin\\KaleoIoTPlugin.dll", copy);
    const auto init = plugin.Export<FnInit<CRecord>>("Init");
    const auto uninit = plugin.Export<FnUnInit>("UnInit");
    ASSERT_TRUE(init && uninit);

    // The name fills its field with no terminator; the serial holds a tab.
    CRecord record = {};
    Fill(record.szDeviceName, std::wstring(Common::DEVICE_TEXT_CHARS, L'x'));
    Fill(record.szMacAddress, L"aa:bb:cc:dd:ee:01");
    Fill(record.szIpAddress, L"10.0.0.5");
    Fill(record.szSerialNumber, L"S\t1");
    record.pid = 0x0401;
    record.eid = 7;
    record.index = 3;
    record.handle = 0x100000000ull;

    // A later rule for the device replaces the earlier one; "*" stays.
    ASSERT_EQ(0u, NetDev(L"plugin --id * --result 9"));
    ASSERT_EQ(0u, NetDev(L"plugin --id AA:BB:CC:DD:EE:01 --result 2 --delay 5000"));
    ASSERT_EQ(0u, NetDev(L"plugin --id AA:BB:CC:DD:EE:01 --result 5 --delay 300"));
    EXPECT_EQ("* 9\r\nAA:BB:CC:DD:EE:01 5 300\r\n", FileText(install.InstallPath() + L"\\PluginControl.txt"));
    ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(5, init(record));
    const ULONGLONG refusedMs = ::GetTickCount64() - start;
    EXPECT_GE(refusedMs, 280u);
    EXPECT_LT(refusedMs, 3000u);

    ASSERT_EQ(0u, NetDev(L"plugin --id aa:bb:cc:dd:ee:01 --result 0"));
    start = ::GetTickCount64();
    EXPECT_EQ(0, init(record));
    EXPECT_LT(::GetTickCount64() - start, 250u);

    std::string shown;
    ASSERT_EQ(0u, NetDev(L"show iot", &shown));
    EXPECT_NE(std::string::npos,
              shown.find("iot: 1 attached\n  [3] 2F1A0401-00FF-FFFF-0000-AABBCCDDEE01.mod  mac=aa:bb:cc:dd:ee:01 "
                         "ip=10.0.0.5\n  copies in bin: 1 (2F1A0401-00FF-FFFF-0000-AABBCCDDEE01.mod)\n"))
        << shown;
    uninit();
    plugin.Unload();
    ASSERT_EQ(0u, NetDev(L"show iot", &shown));
    EXPECT_NE(std::string::npos, shown.find("iot: 0 attached\n  copies in bin: 1")) << shown;

    const std::string fields =
        "\tmodule=" + Narrow(copy) + "\tname=" + std::string(Common::DEVICE_TEXT_CHARS, 'x') +
        "\tmac=aa:bb:cc:dd:ee:01\tip=10.0.0.5\tserial=S?1\teid=7\thandle=100000000\tprocess=" + Pid();
    const std::vector<std::string> expected = {
        "Init\tplugin=IoT\tpid=1025\tindex=3\tresult=5" + fields,
        "Init\tplugin=IoT\tpid=1025\tindex=3\tresult=0" + fields,
        "UnInit\tplugin=IoT\tindex=3\tmodule=" + Narrow(copy) + "\tprocess=" + Pid(),
    };
    EXPECT_EQ(expected, JournalLines(install.InstallPath()));
}

TEST(SamplePlugins, HueCopyJournalsTheBridgeRecord)
{
    using CRecord = Common::SmartLighting::_DEVICEINFOTYPE;
    CInstallFixture install;
    const std::wstring copy = install.InstallPath() + L"\\bin\\2F1A0301-00FF-FFFF-0017-88FFFE123ABC.mod";
    CPluginCopy plugin(BinDir() + L"\\KaleoHuePlugin.dll", copy);
    const auto init = plugin.Export<FnInit<CRecord>>("Init");
    ASSERT_TRUE(init);

    CRecord record = {};
    Fill(record.szId, L"001788fffe123abc");
    Fill(record.szName, L"Hall");
    Fill(record.szIpAddress, L"192.168.1.20");
    Fill(record.szGroupInfo, L"{\"LightChannels\":2,\"SelectedGroup\":\"1\"}");
    record.pid = 769;
    record.index = 1;
    // Bad lines around the rule are ignored; the wildcard decides.
    const std::string control = "\xEF\xBB\xBF"
                                "001788FFFE123ABC\r\n* -7\nx 1 2 3\n* x\n";
    WriteFileBytes(install.InstallPath() + L"\\PluginControl.txt", control.data(), control.size());
    EXPECT_EQ(-7, init(record));

    const std::vector<std::string> expected = {
        "Init\tplugin=Hue\tpid=769\tindex=1\tresult=-7\tmodule=" + Narrow(copy) +
            "\tid=001788fffe123abc\tname=Hall\tip=192.168.1.20\tgroup={\"LightChannels\":2,\"SelectedGroup\":\"1\"}"
            "\teid=0\tprocess=" +
            Pid(),
    };
    EXPECT_EQ(expected, JournalLines(install.InstallPath()));
}

// The control rules as the plug-ins read them: the shape of a line, the
// bounds of its numbers, the cap on the delay, and which line decides.
TEST(SamplePlugins, ControlLinesAreBoundedAndTheLastMatchDecides)
{
    struct CCase
    {
        const char* line;
        bool valid;
        int32_t result;
        DWORD delayMs;
    };
    const CCase cases[] = {
        {"aa 5", true, 5, 0},
        {" \tAA  -2147483648\t60000 ", true, INT32_MIN, 60000},
        {"aa 1 60001", true, 1, 60000},      // capped
        {"aa 1 4294967295", true, 1, 60000}, // capped
        {"aa 2147483648", false, 0, 0},
        {"aa 1 4294967296", false, 0, 0},
        {"aa 1 -5", false, 0, 0},
        {"aa 0x10", false, 0, 0},
        {"aa 1 2 3", false, 0, 0},
        {"aa", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.line);
        PluginControl::CControlLine line;
        ASSERT_EQ(c.valid, PluginControl::ParseControlLine(c.line, line));
        if (!c.valid)
            continue;
        EXPECT_EQ(L"AA", Upper(line.identifier));
        EXPECT_EQ(c.result, line.result);
        EXPECT_EQ(c.delayMs, line.delayMs);
    }

    const std::string text = "\xEF\xBB\xBF* 3 10\r\nAA:01 4\r\nbad line here now\naa:02 6 20\n* 7";
    struct CChoice
    {
        const wchar_t* id;
        int32_t result;
        DWORD delayMs;
    };
    for (const CChoice& c : {CChoice{L"aa:01", 7, 0}, CChoice{L"AA:02", 7, 0}, CChoice{L"bb", 7, 0}})
    {
        const PluginControl::CControlChoice choice = PluginControl::ChooseControl(text, c.id);
        EXPECT_EQ(c.result, choice.result) << Narrow(c.id);
        EXPECT_EQ(c.delayMs, choice.delayMs) << Narrow(c.id);
    }
    const std::string specificLast = "* 3 10\nAA:01 4";
    EXPECT_EQ(4, PluginControl::ChooseControl(specificLast, L"aa:01").result);
    EXPECT_EQ(0u, PluginControl::ChooseControl(specificLast, L"aa:01").delayMs);
    EXPECT_EQ(3, PluginControl::ChooseControl(specificLast, L"aa:02").result);
    EXPECT_EQ(0, PluginControl::ChooseControl("", L"aa:01").result);
}

// "netdev show" against a journal written by copies in several processes,
// with lines no plug-in writes mixed in.
TEST(NetDevCommand, ShowSetsTheJournalAgainstTheCopiesInBin)
{
    CInstallFixture install;
    const std::string bin = Narrow(install.InstallPath()) + "\\bin\\";
    const std::string hue = "2F1A0301-00FF-FFFF-0017-88FFFE123ABC.mod";
    const std::string mod1 = "2F1A0401-00FF-FFFF-0000-AABBCCDDEE01.mod";
    const std::string mod2 = "2F1A0401-00FF-FFFF-0000-AABBCCDDEE02.mod";
    const std::string mod3 = "2F1A0401-00FF-FFFF-0000-AABBCCDDEE03.mod";
    const std::string mod4 = "2F1A0401-00FF-FFFF-0000-AABBCCDDEE04.mod";
    const std::string stray = "2F1A9999-00FF-FFFF-0000-000000000000.mod";
    const std::string journal =
        "Init\tplugin=Hue\tindex=0\tresult=0\tmodule=" + bin + hue +
        "\tid=001788fffe123abc\tip=192.168.1.20\tgroup={\"LightChannels\":2,\"SelectedGroup\":\"1\"}\r\n"
        "Init\tplugin=IoT\tindex=1\tresult=0\tmodule=" +
        bin + mod1 +
        "\tmac=aa:01\tip=10.0.0.1\r\n"
        "Init\tplugin=IoT\tindex=2\tresult=0\tmodule=" +
        bin + mod2 +
        "\tmac=aa:02\tip=10.0.0.2\r\n"
        "Init\tplugin=IoT\tindex=3\tresult=5\tmodule=" +
        bin + mod3 +
        "\tmac=aa:03\tip=10.0.0.3\r\n"
        "=junk\t\t\r\n\r\nUnInit\tno-equals\r\n"
        "Init\tplugin=IoT\tindex=0\tresult=0\tmodule=" +
        bin + mod4 +
        "\tmac=aa:04\tip=10.0.0.4\n"
        "UnInit\tplugin=IoT\tindex=2\tmodule=" +
        Narrow(Upper(Widen(bin + mod2))) +
        "\r\n"
        "Init\tplugin=IoT\tindex=9\tresult=0";
    WriteFileBytes(install.InstallPath() + L"\\PluginJournal.txt", journal.data(), journal.size());
    for (const std::string& name : {hue, mod1, mod2, stray, std::string("other.mod")})
        WriteFileBytes(Widen(bin + name), "x", 1);

    std::string shown;
    ASSERT_EQ(0u, NetDev(L"show", &shown));
    EXPECT_EQ("hue: 1 attached\n"
              "  [0] " +
                  hue +
                  "  id=001788fffe123abc ip=192.168.1.20 group={\"LightChannels\":2,\"SelectedGroup\":\"1\"}\n"
                  "  copies in bin: 1 (" +
                  hue +
                  ")\n"
                  "iot: 2 attached\n"
                  "  [0] " +
                  mod4 +
                  "  mac=aa:04 ip=10.0.0.4\n"
                  "  [1] " +
                  mod1 +
                  "  mac=aa:01 ip=10.0.0.1\n"
                  "  copies in bin: 2 (" +
                  mod1 + ", " + mod2 +
                  ")\n"
                  "unknown copies in bin: 1 (" +
                  stray + ")\n",
              shown);
    ASSERT_EQ(0u, NetDev(L"journal", &shown));
    EXPECT_EQ(0u, shown.find("Init  plugin=Hue  index=0  result=0  module=")) << shown;
}

} // namespace
