// The two configuration readers: scrambled files written here, the records
// they give and, where the log is the only outcome, the lines they write.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "HueBridgeConfig.h"
#include "IoTDeviceList.h"
#include "LogWriter.h"
#include "Scramble.h"
#include "TestEnv.h"

using TestEnv::Narrow;

namespace
{

const wchar_t HUE[] = L"CSmartlightingDeviceManager::GetDevicesInfo";
const wchar_t IOT[] = L"CIoTDeviceManager::GetDevicesInfo";

using NetDevice::EncodeLengthField;
using NetDevice::MakeLengthPrefixedScrambledFile;
using NetDevice::MakeScrambledFile;

// A bridge with the members every case needs, and `more` inside it.
std::string Bridge(const std::string& id, const std::string& more)
{
    return "{\"Id\":\"" + id + "\",\"Name\":\"Hue\",\"IpAddress\":\"10.0.0.2\"" + more + "}";
}

std::string Config(const std::string& bridges)
{
    return "{\"Bridges\":[" + bridges + "]}";
}

class ReaderTest : public ::testing::Test
{
protected:
    std::wstring File() const { return m_install.InstallPath() + L"\\config.json"; }

    void Write(const std::string& bytes) const { TestEnv::WriteFileBytes(File(), bytes.data(), bytes.size()); }

    DWORD ReadHue(const std::string& text, DWORD debug = 0)
    {
        Write(MakeScrambledFile(text, HueBridge::CONFIG_KEY));
        return HueBridge::ReadBridgeConfiguration(File(), debug, m_bridges);
    }

    DWORD ReadIoT(const std::string& text)
    {
        Write(MakeLengthPrefixedScrambledFile(text, IoTList::CONFIG_KEY));
        return IoTList::ReadDeviceList(File(), m_devices);
    }

    std::wstring LogFile() const
    {
        wchar_t exe[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
        return m_install.LogsDir() + L"\\" + Common::MakeLogFileName(exe);
    }

    void ClearLog() const
    {
        Common::CLogWriter::GetInstance()->Reset();
        ::DeleteFileW(LogFile().c_str());
    }

    // "LABEL message" of every line: a line is "date,time,LABEL,location,message".
    std::vector<std::wstring> Lines() const
    {
        const std::wstring text = TestEnv::ReadUtf16File(LogFile());
        std::vector<std::wstring> lines;
        for (size_t pos = 0, end; (end = text.find(L"\r\n", pos)) != std::wstring::npos; pos = end + 2)
        {
            const std::wstring line = text.substr(pos, end - pos);
            size_t comma[4] = {};
            for (int i = 0; i < 4; ++i)
                comma[i] = line.find(L',', i ? comma[i - 1] + 1 : 0);
            lines.push_back(line.substr(comma[1] + 1, comma[2] - comma[1] - 1) + L" " + line.substr(comma[3] + 1));
        }
        return lines;
    }

    bool Logged(const std::wstring& line) const
    {
        for (const std::wstring& l : Lines())
            if (l == line)
                return true;
        return false;
    }

    // Lengths of the content lines, whose text is all '7's, in order.
    std::vector<size_t> DumpLines(const wchar_t* function) const
    {
        const std::wstring prefix = std::wstring(L"INFO ") + function + L" | ";
        std::vector<size_t> lengths;
        for (const std::wstring& l : Lines())
            if (l.compare(0, prefix.size(), prefix) == 0 && l.size() > prefix.size() &&
                l.find_first_not_of(L'7', prefix.size()) == std::wstring::npos)
                lengths.push_back(l.size() - prefix.size());
        return lengths;
    }

    TestEnv::CInstallFixture m_install;
    HueBridge::CRecordTable m_bridges;
    IoTList::CRecordTable m_devices;
};

// ---------------------------------------------------------------------------
// Smart-lighting configuration

TEST_F(ReaderTest, HueBridgeRecordsAndRefusals)
{
    const std::string id = "001788fffe123abc";
    const auto hue = [&id](const std::string& selected, const std::string& groups) {
        return Config(Bridge(id, ",\"SelectedGroup\":" + selected + (groups.empty() ? "" : ",\"Groups\":" + groups)));
    };
    struct
    {
        const char* what;
        std::string text;
        DWORD result;
        const wchar_t* groupInfo;  // null: nothing stored
    } const cases[] = {
        {"groups as object", hue(R"("7")", R"({"3":{"Id":"3","Lights":[1]},"7":{"Id":"7","Lights":[1,2,3]}})"), 0,
         LR"({"LightChannels":3,"SelectedGroup":"7"})"},
        // Byte order walks "10" before "9"; the last match wins.
        {"9 and 10 both match", hue(R"("a")", R"({"9":{"Id":"A","Lights":[1,2]},"10":{"Id":"a","Lights":[1]}})"), 0,
         LR"({"LightChannels":2,"SelectedGroup":"a"})"},
        {"no group matches", hue(R"("x")", R"({"1":{"Id":"1","Lights":[1]}})"), 0,
         LR"({"LightChannels":0,"SelectedGroup":"x"})"},
        {"groups as array, lights object",
         hue(R"("2")", R"([{"Id":"2","Lights":{"a":1,"b":1,"c":1,"d":1}},{"Id":"1"}])"), 0,
         LR"({"LightChannels":4,"SelectedGroup":"2"})"},
        {"lights a string", hue(R"("7")", R"([{"Id":"7","Lights":"x"}])"), 0,
         LR"({"LightChannels":1,"SelectedGroup":"7"})"},
        {"lights absent", hue(R"("7")", R"([{"Id":"7"}])"), 0, LR"({"LightChannels":0,"SelectedGroup":"7"})"},
        {"groups absent, second bridge ignored",
         Config(Bridge(id, R"(,"SelectedGroup":"7")") + "," + Bridge("c0000000000000", "")), 0,
         LR"({"LightChannels":0,"SelectedGroup":"7"})"},
        {"tab inside a value", hue("\"\t7\"", ""), 0, LR"({"LightChannels":0,"SelectedGroup":"7"})"},
        {"selected group a number", hue("7", ""), 5930, nullptr},
        {"group without id", hue(R"("7")", R"([{"Lights":[1]}])"), 5930, nullptr},
        {"group not an object", hue(R"("7")", R"({"1":5})"), 5930, nullptr},
        {"bridges empty", Config(""), 5930, nullptr},
        {"root an array", "[" + hue(R"("7")", "") + "]", 5930, nullptr},
        {"invalid UTF-8 in a string", Config(Bridge(id + "\xE9", R"(,"SelectedGroup":"7")")), 5930, nullptr},
    };
    for (const auto& c : cases)
    {
        m_bridges.clear();
        EXPECT_EQ(c.result, ReadHue(c.text)) << c.what;
        ASSERT_EQ(c.groupInfo ? 1u : 0u, m_bridges.size()) << c.what;
        if (!c.groupInfo)
            continue;
        const HueBridge::CRecord& r = m_bridges.at(0);
        EXPECT_EQ(std::wstring(c.groupInfo), r.szGroupInfo) << c.what;
        EXPECT_EQ(769, r.pid) << c.what;
        EXPECT_EQ(TestEnv::Widen(id), r.szId) << c.what;
        EXPECT_EQ(std::wstring(L"Hue"), r.szName) << c.what;
        EXPECT_EQ(std::wstring(L"10.0.0.2"), r.szIpAddress) << c.what;
    }
}

// Where the result alone does not tell the failures apart, the lines do.
TEST_F(ReaderTest, HueFailureLines)
{
    const std::string sel7 = ",\"SelectedGroup\":\"7\"";
    const std::wstring error = L"ERROR " + std::wstring(HUE) + L" | ";
    const auto scrambled = [](const std::string& text) { return MakeScrambledFile(text, HueBridge::CONFIG_KEY); };
    struct
    {
        const char* what;
        std::string bytes;
        DWORD debug;
        DWORD result;
        std::wstring line;
    } const cases[] = {
        {"empty id", scrambled(Config(Bridge("", sel7))), 0, 0, error + L"Internal Error"},
        {"long id", scrambled(Config(Bridge(std::string(260, 'i'), sel7))), 0, 5930,
         error + L"Id is 260 characters or longer: bridge refused"},
        {"name missing", scrambled("{\"Bridges\":[{\"Id\":\"b\"}]}"), 0, 5930,
         error + L"[json.exception.out_of_range.403] key 'Name' not found"},
        {"plain text", Config(Bridge("b", sel7)), 0, 5930,
         error + L"[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while parsing "
                 L"value - invalid literal; last read: '*'"},
        {"deep nesting", scrambled(std::string(100000, '[') + std::string(100000, ']')), 0, 5930,
         error + L".json is nested deeper than 256 levels"},
        {"empty file", "", 1, 13, error + L".json is empty!"},
        // Refused unread: not even the debug dump shows it.
        {"oversized", std::string(16u * 1024u * 1024u + 1u, ' '), 1, 5930,
         error + L"configuration file is larger than 16777216 bytes"},
    };
    m_bridges[5] = {};
    for (const auto& c : cases)
    {
        ClearLog();
        Write(c.bytes);
        EXPECT_EQ(c.result, HueBridge::ReadBridgeConfiguration(File(), c.debug, m_bridges)) << c.what;
        const std::wstring fn(HUE);
        EXPECT_EQ((std::vector<std::wstring>{L"INFO " + fn + L" | START", c.line,
                                             L"INFO " + fn + L" | END | Result = " + std::to_wstring(c.result)}),
                  Lines())
            << c.what;
    }
    ::DeleteFileW(File().c_str());
    EXPECT_EQ(13u, HueBridge::ReadBridgeConfiguration(File(), 0, m_bridges)) << "missing file";
    ClearLog();
    EXPECT_EQ(87u, HueBridge::ReadBridgeConfiguration(L"", 0, m_bridges));
    EXPECT_EQ(std::vector<std::wstring>{L"INFO " + std::wstring(HUE) + L" | START"}, Lines())
        << "an empty path ends without END line";
    EXPECT_EQ(1u, m_bridges.size()) << "failures leave the table as it was";
}

TEST_F(ReaderTest, HueDumpsTheTextOnlyWithDebugOne)
{
    struct
    {
        size_t bytes;
        DWORD debug;
        std::vector<size_t> lines;
    } const cases[] = {{200, 1, {200}}, {201, 1, {200, 1}}, {400, 1, {200, 200}}, {401, 2, {}}, {401, 0, {}}};
    for (const auto& c : cases)
    {
        ClearLog();
        EXPECT_EQ(5930u, ReadHue(std::string(c.bytes, '7'), c.debug));
        EXPECT_EQ(c.lines, DumpLines(HUE)) << c.bytes << " bytes, debug " << c.debug;
    }
}

// ---------------------------------------------------------------------------
// IoT device list

TEST_F(ReaderTest, IoTDeviceRecords)
{
    const std::string full = "{\"pid\":2561,\"eid\":-5,\"handle\":4294967296,\"device_name\":\"lamp\","
                             "\"mac_address\":\"aa:bb\",\"ip_address\":\"10.0.0.9\",\"serial_number\":\"S1\"}";
    const std::string wrongTypes = "{\"pid\":\"2561\",\"eid\":3.0,\"handle\":true,\"device_name\":5,"
                                   "\"mac_address\":null,\"other\":1}";
    const std::string tooLong = "{\"pid\":1,\"mac_address\":\"" + std::string(260, 'm') + "\"}";
    ASSERT_EQ(0u, ReadIoT("[" + full + "," + wrongTypes + ",7," + tooLong + ",{\"pid\":4294967297},null,{\"pid\":9}]"));

    ASSERT_EQ(5u, m_devices.size()) << "reading stops at the first null element";
    const IoTList::CRecord& d = m_devices.at(0);
    EXPECT_EQ(2561, d.pid);
    EXPECT_EQ(-5, d.eid);
    EXPECT_EQ(4294967296ull, d.handle);
    EXPECT_EQ(std::wstring(L"lamp"), d.szDeviceName);
    EXPECT_EQ(std::wstring(L"aa:bb"), d.szMacAddress);
    EXPECT_EQ(std::wstring(L"10.0.0.9"), d.szIpAddress);
    EXPECT_EQ(std::wstring(L"S1"), d.szSerialNumber);
    EXPECT_EQ(0u, d.hModule);
    EXPECT_EQ(0, d.index);

    IoTList::CRecord zero;
    std::memset(&zero, 0, sizeof(zero));
    for (int k : {1, 2, 3})  // wrong types ignored, not an object, a text too long
        EXPECT_EQ(0, std::memcmp(&zero, &m_devices.at(k), sizeof(zero))) << "element " << k;
    EXPECT_EQ(1, m_devices.at(4).pid) << "low 32 bits of the product id";
    EXPECT_TRUE(Logged(L"ERROR " + std::wstring(IOT) + L" | device 3: mac_address is 260 characters or longer: "
                                                         L"device ignored"));
}

TEST_F(ReaderTest, IoTListShapesAndLengthFields)
{
    const std::string list = "[{\"pid\":1}]";
    const std::string scrambled = MakeScrambledFile(list, IoTList::CONFIG_KEY);
    const int32_t n = static_cast<int32_t>(list.size());
    struct
    {
        const char* what;
        std::string bytes;
        DWORD result;
        size_t stored;  // besides the entry the table held before
    } const cases[] = {
        {"trailing bytes ignored", EncodeLengthField(n) + scrambled + "garbage", 0, 1},
        {"empty array", EncodeLengthField(2) + MakeScrambledFile("[]", IoTList::CONFIG_KEY), 0, 0},
        {"null root", EncodeLengthField(4) + MakeScrambledFile("null", IoTList::CONFIG_KEY), 0, 0},
        {"root an object", EncodeLengthField(8) + MakeScrambledFile("{\"a\":[]}", IoTList::CONFIG_KEY), 5930, 0},
        {"length 0 with text after it", EncodeLengthField(0) + scrambled, 13, 0},
        {"shorter than the length field", std::string("\x05\x00", 2), 13, 0},
        {"negative length", EncodeLengthField(-1) + scrambled, 5930, 0},
        {"length beyond the file", EncodeLengthField(n + 1) + scrambled, 5930, 0},
        {"huge length", EncodeLengthField(0x7FFFFFFF) + scrambled, 5930, 0},
    };
    for (const auto& c : cases)
    {
        m_devices.clear();
        m_devices[77] = {};
        Write(c.bytes);
        EXPECT_EQ(c.result, IoTList::ReadDeviceList(File(), m_devices)) << c.what;
        EXPECT_EQ(1 + c.stored, m_devices.size()) << c.what;
    }
    EXPECT_TRUE(Logged(L"ERROR " + std::wstring(IOT) + L" | VxIoT.json is empty!"));
    EXPECT_TRUE(Logged(L"ERROR " + std::wstring(IOT) + L" | VxIoT.json length field -1 does not fit: " +
                       std::to_wstring(list.size()) + L" bytes follow it, at most 16777216 are read"));
}

// The dump stops after 64 KiB (327 pieces of 200 and one of 136) and says
// how much it left out.
TEST_F(ReaderTest, IoTAlwaysDumpsTheTextIn200BytePiecesUpTo64KiB)
{
    std::vector<size_t> cut(327, 200);
    cut.push_back(136);
    const std::wstring rest = L"INFO " + std::wstring(IOT) + L" | content logged up to 65536 bytes: ";
    struct
    {
        size_t bytes;
        std::vector<size_t> lines;
        const wchar_t* restLine;  // null: none
    } const cases[] = {
        {600, {200, 200, 200}, nullptr},
        {65536, cut, nullptr},
        {65537, cut, L"1 more not logged"},
        {1000000, cut, L"934464 more not logged"},
    };
    for (const auto& c : cases)
    {
        ClearLog();
        EXPECT_EQ(5930u, ReadIoT(std::string(c.bytes, '7'))) << c.bytes;
        EXPECT_EQ(c.lines, DumpLines(IOT)) << c.bytes;
        size_t restLines = 0;
        for (const std::wstring& line : Lines())
            restLines += line.compare(0, rest.size(), rest) == 0;
        EXPECT_EQ(c.restLine ? 1u : 0u, restLines) << c.bytes;
        if (c.restLine)
        {
            EXPECT_TRUE(Logged(rest + c.restLine)) << c.bytes;
        }
    }
}

TEST_F(ReaderTest, IoTRefusesAListLongerThanTheBound)
{
    const auto objects = [](size_t count) {
        std::string list = "{}";
        for (size_t i = 1; i < count; ++i)
            list += ",{}";
        return list;
    };
    m_devices[-1] = {};
    EXPECT_EQ(5930u, ReadIoT("[" + objects(IoTList::MAX_LISTED_DEVICES + 1) + "]"));
    EXPECT_EQ(1u, m_devices.size());
    EXPECT_EQ(0u, ReadIoT("[" + objects(IoTList::MAX_LISTED_DEVICES) + ",null,{}]"));
    EXPECT_EQ(1u + IoTList::MAX_LISTED_DEVICES, m_devices.size());
}

} // namespace
