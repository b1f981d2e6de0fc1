// "Load" and "Reset" commanded from another process: which devices the
// module detaches and attaches, as the plug-ins' journal records it.
#include "NetDevFixture.h"

#include <functional>

#include "IoTDeviceList.h"
#include "NetDeviceNames.h"
#include "Scramble.h"

namespace NetDevTest
{
namespace
{

std::vector<CJournalLine> Since(const std::vector<CJournalLine>& journal, size_t from)
{
    return std::vector<CJournalLine>(journal.begin() + static_cast<std::ptrdiff_t>(std::min(from, journal.size())),
                                     journal.end());
}

// "Init mac index" / "UnInit index" of journal lines, for compact checks.
std::vector<std::string> Calls(const std::vector<CJournalLine>& lines)
{
    std::vector<std::string> out;
    for (const auto& line : lines)
        out.push_back(line.call == "Init" ? "Init " + line.Field("mac") + line.Field("id") + " " +
                                                line.Field("index") + " " + line.Field("result")
                                          : "UnInit " + line.Field("index"));
    return out;
}

class HueRoad : public CNetDevFixture
{
protected:
    void Configure(const std::wstring& options)
    {
        Ctl(L"netdev hue --file \"" + HueConfig() + L"\" --id 001788fffe123abc --group 1=a,b --group 2=c " +
            options);
    }
};

TEST_F(HueRoad, LoadAttachesReattachesOnlyWhatChangedAndAnEmptiedConfigurationDetaches)
{
    Configure(L"--name Bridge --ip bridge.local --selected 1");
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    ASSERT_TRUE(Load(L"hue"));
    auto journal = Journal();
    ASSERT_EQ(1u, journal.size());
    EXPECT_EQ("{\"LightChannels\":2,\"SelectedGroup\":\"1\"}", journal[0].Field("group"));
    EXPECT_EQ(std::vector<std::wstring>{L"2F1A0301-00FF-FFFF-0017-88FFFE123ABC.mod"}, Copies());
    EXPECT_EQ(0u, CountInLog(L"no device to add")) << "a first attach does not compare";

    // Letter case alone is no change.
    Configure(L"--name BRIDGE --ip BRIDGE.LOCAL --selected 1");
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, Journal().size());
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::RemoveInvalidDevices | no device to remove"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::AddValidDevices | no device to add"));
    EXPECT_EQ(0u, CountInLog(L"connected bridge"));

    Configure(L"--name Bridge --ip bridge.local --selected 2");
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, CountInLog(L"| connected bridge group=1, lightchannels=2"));
    EXPECT_EQ(1u, CountInLog(L"| discovered bridge group=2, lightchannels=1"));
    journal = Journal();
    EXPECT_EQ((std::vector<std::string>{"UnInit 0", "Init 001788fffe123abc 0 0"}), Calls(Since(journal, 1)));
    EXPECT_EQ("{\"LightChannels\":1,\"SelectedGroup\":\"2\"}", journal.back().Field("group"));

    ASSERT_TRUE(::DeleteFileW(HueConfig().c_str()));
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::UpdateDevices | END | Result = 13"));
    EXPECT_EQ(2u, CountCalls(Journal(), "UnInit", "Hue"));
    EXPECT_TRUE(Copies().empty());
    ASSERT_TRUE(Command(L"hue", L"Reset", L"CSmartlightingDeviceManager::ClearDevices | END"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::ClearDevices | END | Result = 4319"));
}

// Names outside ASCII travel as UTF-8 from the commander through the module
// to the plug-in, and the group texts compare equal from one Load to the next.
TEST_F(HueRoad, NamesOutsideAsciiReachThePluginWholeAndCompareUnchanged)
{
    const std::string kueche = "K\xC3\xBC" "che";
    Configure(L"--name K\u00FCche --ip bridge.local --group K\u00FCche=x --selected K\u00DCCHE");
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    for (int round = 0; round < 2; ++round)
        ASSERT_TRUE(Load(L"hue")) << round;
    const auto journal = Journal();
    ASSERT_EQ(1u, journal.size()) << "the second Load found a change";
    EXPECT_EQ(kueche, journal[0].Field("name"));
    EXPECT_EQ("{\"LightChannels\":1,\"SelectedGroup\":\"K\xC3\x9C" "CHE\"}", journal[0].Field("group"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::RemoveInvalidDevices | no device to remove"));
}

// Only a missing or empty file (13 from the reader) detaches: every other
// failure of an update leaves the attached bridge as it is. (87, an empty
// path, cannot arise here: an empty "Path" ends the update with 4306 first.)
TEST_F(HueRoad, FailuresOtherThanAMissingFileLeaveTheAttachedBridgeAlone)
{
    Configure(L"--name Bridge --ip bridge.local --selected 1");
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    ASSERT_TRUE(Load(L"hue"));
    const std::wstring key = NetDevice::SMARTLIGHTING_SETTINGS_KEY;
    const std::wstring path = NetDevice::PATH_VALUE;
    struct
    {
        const char* what;
        std::function<void()> arrange;
        const wchar_t* result;
    } const cases[] = {
        {"not JSON", [&] { Ctl(L"netdev hue --file \"" + HueConfig() + L"\" --raw \"{not json\""); }, L"5930"},
        {"Path missing", [&] { TestEnv::RegDeleteValueW32(key, path); }, L"2"},
        {"Path empty", [&] { TestEnv::RegWriteString(key, path, L""); }, L"4306"},
        {"Path not a string", [&] { TestEnv::RegWriteDword(key, path, 1); }, L"13"},
    };
    for (const auto& c : cases)
    {
        c.arrange();
        const std::wstring line = L"CSmartlightingDeviceManager::UpdateDevices | END | Result = " + std::wstring(c.result);
        ASSERT_TRUE(Load(L"hue")) << c.what;
        EXPECT_EQ(1u, CountInLog(line)) << c.what;
        EXPECT_EQ(0u, CountCalls(Journal(), "UnInit", "Hue")) << c.what;
        EXPECT_EQ(1u, Copies().size()) << c.what;
    }
    Configure(L"--name Bridge --ip bridge.local --selected 1");
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::AddValidDevices | no device to add"));
    EXPECT_EQ(1u, Journal().size());
}

TEST_F(HueRoad, ABridgeIdShorterThanTwelveCharactersIsNotAttached)
{
    Ctl(L"netdev hue --file \"" + HueConfig() + L"\" --id 00178 --name B --ip 1.2.3.4 --group 1=a --selected 1");
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, CountInLog(L"bridge id 00178 has fewer than 12 characters: not attached"));
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(Copies().empty());
}

class IoTRoad : public CNetDevFixture
{
protected:
    void Iot(const std::wstring& args) { Ctl(L"netdev iot " + args + L" --file \"" + IoTList() + L"\""); }
    void Add(int n, const wchar_t* ip)
    {
        Iot(L"add --mac aa:bb:cc:dd:ee:0" + std::to_wstring(n) + L" --pid 1025 --ip " + ip + L" --serial S" +
            std::to_wstring(n) + L" --name L\u00E4mpchen");
    }
    std::vector<std::string> LoadAndCalls()
    {
        const size_t before = Journal().size();
        EXPECT_TRUE(Load(L"iot"));
        return Calls(Since(Journal(), before));
    }
};

TEST_F(IoTRoad, EachListChangeDetachesAndAttachesExactlyTheDevicesItConcerns)
{
    Add(1, L"10.0.0.1");
    Add(2, L"10.0.0.2");
    Add(3, L"10.0.0.3");
    ASSERT_TRUE(StartModule(L"VxIoTDeviceManager.dll"));
    EXPECT_EQ((std::vector<std::string>{"Init aa:bb:cc:dd:ee:01 0 0", "Init aa:bb:cc:dd:ee:02 1 0",
                                        "Init aa:bb:cc:dd:ee:03 2 0"}),
              LoadAndCalls());
    EXPECT_EQ("L\xC3\xA4mpchen", Journal()[0].Field("name"));

    // A new address: detached and attached again under the smallest free index.
    Iot(L"change --mac AA:BB:CC:DD:EE:02 --ip 10.0.0.22");
    EXPECT_EQ((std::vector<std::string>{"UnInit 1", "Init aa:bb:cc:dd:ee:02 1 0"}), LoadAndCalls());
    EXPECT_EQ(2u, CountInLog(L"CIoTDeviceManager::RemoveInvalidDevices | ip mismatch |"));

    // Index 1 leaves and a newcomer takes it; with 0, 1 and 2 taken the next gets 3.
    Iot(L"remove --mac aa:bb:cc:dd:ee:02");
    Add(4, L"10.0.0.4");
    EXPECT_EQ((std::vector<std::string>{"UnInit 1", "Init aa:bb:cc:dd:ee:04 1 0"}), LoadAndCalls());
    Add(5, L"10.0.0.5");
    EXPECT_EQ((std::vector<std::string>{"Init aa:bb:cc:dd:ee:05 3 0"}), LoadAndCalls());

    Iot(L"change --mac aa:bb:cc:dd:ee:05 --serial T5");
    EXPECT_EQ((std::vector<std::string>{"UnInit 3", "Init aa:bb:cc:dd:ee:05 3 0"}), LoadAndCalls());
    EXPECT_EQ(2u, CountInLog(L"| serialno mismatch | "));
    EXPECT_EQ(4u, Copies().size());

    // A restart detaches everything; devices return with the next Load.
    EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_RESTART));
    EXPECT_EQ(7u, CountCalls(Journal(), "UnInit", "IoT"));
    EXPECT_TRUE(Copies().empty());
    EXPECT_EQ(4u, LoadAndCalls().size());
}

TEST_F(IoTRoad, IdentifiersThatLeaveBinOrNameAnAttachedCopyAreRefused)
{
    // The MAC feeds the copy's file name: one escapes bin, and two spellings
    // of one address name the same copy.
    const std::string list = R"([{"pid":1025,"mac_address":"..\\..\\evil"},)"
                             R"({"pid":1025,"mac_address":"aa:bb:cc:dd:ee:07"},)"
                             R"({"pid":1025,"mac_address":"AA-BB-CC-DD-EE-07"}])";
    const std::string file = NetDevice::MakeLengthPrefixedScrambledFile(list, NetDevice::IOT_CONFIG_KEY);
    TestEnv::WriteFileBytes(IoTList(), file.data(), file.size());
    TestEnv::RegWriteString(NetDevice::IOT_SETTINGS_KEY, NetDevice::PATH_VALUE, IoTList());

    ASSERT_TRUE(StartModule(L"VxIoTDeviceManager.dll"));
    EXPECT_EQ((std::vector<std::string>{"Init aa:bb:cc:dd:ee:07 1 0"}), LoadAndCalls());
    EXPECT_EQ(1u, CountInLog(L"is not a usable file name"));
    EXPECT_EQ(1u, CountInLog(L"already serves an attached device"));
    EXPECT_EQ(1u, CountInLog(L"CIoTDeviceManager::AddDevice | END | Result = 183"));
    EXPECT_EQ(std::vector<std::wstring>{L"2F1A0401-00FF-FFFF-0000-AABBCCDDEE07.mod"}, Copies());
}

} // namespace
} // namespace NetDevTest
