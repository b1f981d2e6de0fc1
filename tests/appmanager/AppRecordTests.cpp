// The apps' registry records: written from registration blocks and from
// the information file next to an app, checked in the real registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "AppRecordTestSupport.h"

using namespace AppTest;
using namespace RecordTest;
using namespace TestEnv;

namespace
{

const std::wstring kGame = L"game.exe";
const std::wstring kInfoFile = L"KaleoAppInfo.xml";

class AppRecords : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager.Init()); }
    void TearDown() override { m_manager.UnInit(); }

    std::wstring Exe() const { return m_dir / kGame; }
    std::wstring Key() const { return RecordKey(kGame); }
    void WriteInfo(const std::string& xml) { WriteText(m_dir / kInfoFile, xml); }
    void RemoveInfo() { ::DeleteFileW((m_dir / kInfoFile).c_str()); }

    static std::string Info(const std::string& body) { return "<?xml version=\"1.0\"?><application>" + body + "</application>"; }

    _REGISTERDATATYPE Block(DWORD pid, const wchar_t* contact = L"dev@studio.example")
    {
        _REGISTERDATATYPE block{};
        block.dwRequest = 1;
        block.dwProcessId = pid;
        wcscpy(block.szTitle, L"Block title");
        wcscpy(block.szDescription, L"Block description");
        wcscpy(block.szAuthor, L"Block author");
        wcscpy(block.szContact, contact);
        block.dwDevices = 0x03;
        block.dwCategory = 2;
        return block;
    }

    CAppsInstall m_install;
    CScratchDir m_dir;
    CAppManager m_manager;
};

} // namespace

TEST_F(AppRecords, FirstRegistrationWithoutFileWritesDefaults)
{
    auto app = StartApp(m_dir.Path(), kGame, false);
    ASSERT_TRUE(m_manager.Register(app->Pid()));

    EXPECT_EQ(1u, Dword(Key(), L"Enable"));
    EXPECT_EQ(Exe(), Text(Key(), L"Path"));
    EXPECT_EQ(kGame, Text(Key(), L"Title"));
    EXPECT_EQ(L"", Text(Key(), L"Description"));
    EXPECT_EQ(L"Kaleo developer", Text(Key(), L"Author"));
    EXPECT_EQ(0u, Text(Key(), L"Contact").rfind(L"https://", 0)) << "a web address";
    EXPECT_EQ(0xBFu, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(1u, Dword(Key(), L"Category"));

    // Texts carry their terminator, the empty one too.
    for (const wchar_t* name : {L"Path", L"Title", L"Description", L"Author", L"Contact"})
    {
        DWORD type = 0, bytes = 0;
        ASSERT_TRUE(RawInfo(Key(), name, type, bytes)) << Narrow(name);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type) << Narrow(name);
        EXPECT_EQ((Text(Key(), name).size() + 1) * sizeof(wchar_t), bytes) << Narrow(name);
    }
}

TEST_F(AppRecords, DeviceAttributesFollowTheBooleanRule)
{
    const struct
    {
        const char* attributes;
        DWORD expected;
    } cases[] = {
        {"keyboard=\"yes\" mouse=\"0\"", 0x81},
        {"keyboard=\"yes\" mouse=\"0\" philipshue=\"false\"", 0x01},
        {"homelighting=\"Y\" philipshue=\"false\"", 0x80},
        {"philipshue=\"true\"", 0x80},
        {"homelighting=\"\"", 0x00},
        {"keyboard=\"True\" mouse=\"1\" headset=\"y\" mousepad=\"T\" keypad=\"Yes\" kaleolink=\"1\" homelighting=\"1\"",
         0xBF},
        {"keyboard=\"\" mouse=\"on\" headset=\"no\" mousepad=\"F\" homelighting=\"0\"", 0x00},
        {"KEYBOARD=\"1\" Mouse=\"1\"", 0x80},
        {"", 0x80},
    };
    for (const auto& c : cases)
    {
        RegDeleteTreeW32(Key());
        WriteInfo(Info(std::string("<device_supported ") + c.attributes + "/>"));
        m_manager.ReadAppInfoFile(0, Exe());
        EXPECT_EQ(c.expected, Dword(Key(), L"DevicesSupported")) << c.attributes;
    }
}

TEST_F(AppRecords, FileTextsAndCategory)
{
    WriteInfo(Info(u8"<title>Spiel für alle</title><description>Shoots things</description>"
                   "<author name=\"Studio\" contact=\"mail@studio.example\"/>"
                   "<device_supported keyboard=\"1\"/><category game=\"yes\"/>"));
    m_manager.ReadAppInfoFile(0, Exe());
    EXPECT_EQ(1u, Dword(Key(), L"Enable"));
    EXPECT_EQ(L"Spiel f\u00fcr alle", Text(Key(), L"Title"));
    EXPECT_EQ(L"Shoots things", Text(Key(), L"Description"));
    EXPECT_EQ(L"Studio", Text(Key(), L"Author"));
    EXPECT_EQ(L"mail@studio.example", Text(Key(), L"Contact"));
    EXPECT_EQ(0x81u, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(2u, Dword(Key(), L"Category"));

    // An update keeps the values of absent elements; the category is always
    // rewritten, an absent one meaning application.
    WriteInfo(Info("<title>Renamed</title><author/>"));
    m_manager.LoadAppInfo(0, Exe());
    EXPECT_EQ(L"Renamed", Text(Key(), L"Title"));
    EXPECT_EQ(L"Shoots things", Text(Key(), L"Description"));
    EXPECT_EQ(L"", Text(Key(), L"Author")) << "missing attribute counts as empty text";
    EXPECT_EQ(L"", Text(Key(), L"Contact"));
    EXPECT_EQ(0x81u, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(1u, Dword(Key(), L"Category"));

    WriteInfo(Info("<title/><category game=\"no\"/>"));
    m_manager.LoadAppInfo(0, Exe());
    EXPECT_EQ(L"", Text(Key(), L"Title")) << "an element without text gives empty text";
    EXPECT_EQ(1u, Dword(Key(), L"Category"));
}

TEST_F(AppRecords, ContactRuleDependsOnTheWriter)
{
    // From the file: both occurrences are rewritten.
    WriteInfo(Info("<author name=\"a\" contact=\"www.vexelzone.com/vexelzone\"/>"));
    m_manager.ReadAppInfoFile(0, Exe());
    EXPECT_EQ(L"www.vexel.com/vexel", Text(Key(), L"Contact"));
    RemoveInfo();
    RegDeleteTreeW32(Key());

    // A new record from a block keeps the text; an update rewrites it.
    auto app = StartApp(m_dir.Path(), kGame, false);
    const _REGISTERDATATYPE block = Block(app->Pid(), L"vexelzone.com/vexelzone");
    ASSERT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(L"vexelzone.com/vexelzone", Text(Key(), L"Contact"));
    ASSERT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(L"vexel.com/vexel", Text(Key(), L"Contact"));

    // A registration by process id without a file brings a stored contact
    // under the rule as well.
    RegWriteString(Key(), L"Contact", L"x@vexelzone.example");
    ASSERT_TRUE(m_manager.Register(app->Pid()));
    EXPECT_EQ(L"x@vexel.example", Text(Key(), L"Contact"));
    EXPECT_EQ(0xBFu, Dword(Key(), L"DevicesSupported"));
}

TEST_F(AppRecords, BlockDevicesAndCategoryAreMasked)
{
    auto app = StartApp(m_dir.Path(), kGame, false);
    _REGISTERDATATYPE block = Block(app->Pid());
    block.dwDevices = 0xFF;
    block.dwCategory = 7;
    ASSERT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(0xBFu, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(1u, Dword(Key(), L"Category"));
    EXPECT_EQ(L"Block title", Text(Key(), L"Title"));
    EXPECT_EQ(Exe(), Text(Key(), L"Path"));

    // The update path masks the same way.
    block.dwDevices = 0x40;
    block.dwCategory = 2;
    ASSERT_TRUE(m_manager.Register(&block));
    EXPECT_EQ(0x80u, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(2u, Dword(Key(), L"Category"));
}

TEST_F(AppRecords, UserDisableSurvivesLaterRegistrations)
{
    auto app = StartApp(m_dir.Path(), kGame, false);
    ASSERT_TRUE(m_manager.Register(app->Pid()));
    ASSERT_EQ(1u, Dword(Key(), L"Enable"));
    WriteDword(Key(), L"Enable", 0);

    const _REGISTERDATATYPE block = Block(app->Pid());
    ASSERT_TRUE(m_manager.Register(app->Pid()));
    ASSERT_TRUE(m_manager.Register(&block));
    WriteInfo(Info("<title>With file</title>"));
    ASSERT_TRUE(m_manager.Register(app->Pid()));
    EXPECT_EQ(L"With file", Text(Key(), L"Title"));
    // Even the create-or-open writers leave an existing record's switch.
    m_manager.WriteAppRecord(reinterpret_cast<const BYTE*>(&block) + REGISTER_APPINFO_OFFSET, Exe());
    m_manager.ReadAppInfoFile(0, Exe());
    EXPECT_EQ(0u, Dword(Key(), L"Enable"));
}

// Texts of a block come from another process and may fill their fields
// without a terminator: each is cut within its own field.
TEST_F(AppRecords, UnterminatedBlockTextsAreCutAtTheirFields)
{
    auto app = StartApp(m_dir.Path(), kGame, false);
    _REGISTERDATATYPE block = Block(app->Pid());
    std::fill(std::begin(block.szTitle), std::end(block.szTitle), L'T');
    std::fill(std::begin(block.szDescription), std::end(block.szDescription), L'D');
    std::fill(std::begin(block.szAuthor), std::end(block.szAuthor), L'A');
    for (size_t i = 0; i < 256; ++i)
        block.szContact[i] = L"vexelzone"[i % 9];
    block.dwDevices = 0x00430043; // reads as "CC" if the contact ran on
    block.dwCategory = 0x00430043;

    for (int pass = 0; pass < 2; ++pass) // new record, then update
    {
        ASSERT_TRUE(m_manager.Register(&block)) << pass;
        EXPECT_EQ(std::wstring(255, L'T'), Text(Key(), L"Title")) << pass;
        EXPECT_EQ(std::wstring(1023, L'D'), Text(Key(), L"Description")) << pass;
        EXPECT_EQ(std::wstring(255, L'A'), Text(Key(), L"Author")) << pass;
        const std::wstring contact = Text(Key(), L"Contact");
        EXPECT_LE(contact.size(), 255u) << pass;
        EXPECT_EQ(std::wstring::npos, contact.find(L'C')) << pass;
        EXPECT_EQ(0u, contact.find(pass == 0 ? L"vexelzonevexelzone" : L"vexelvexel")) << pass;
    }
}

// Texts of the file are stored whole up to 4,096 characters, and the
// contact rule runs on the whole contact before that cut.
TEST_F(AppRecords, LongFileTextsAreStoredWholeUpToTheBound)
{
    const auto repeat = [](const std::string& word, size_t times) {
        std::string text;
        for (size_t i = 0; i < times; ++i)
            text += word;
        return text;
    };
    const auto wrepeat = [](const std::wstring& word, size_t times) {
        std::wstring text;
        for (size_t i = 0; i < times; ++i)
            text += word;
        return text;
    };
    const struct
    {
        const char* label;
        std::string body;
        const wchar_t* value;
        std::wstring expected;
    } cases[] = {
        {"title past the field", "<title>" + std::string(3000, 't') + "</title>", L"Title", std::wstring(3000, L't')},
        {"title past the bound", "<title>" + std::string(5000, 't') + "</title>", L"Title", std::wstring(4096, L't')},
        {"description", "<description>" + std::string(4096, 'd') + "</description>", L"Description",
         std::wstring(4096, L'd')},
        {"author", "<author name=\"" + std::string(400, 'n') + "\"/>", L"Author", std::wstring(400, L'n')},
        // 450 characters in the file, 250 after the rule.
        {"contact past the field", "<author name=\"a\" contact=\"" + repeat("vexelzone", 50) + "\"/>", L"Contact",
         wrepeat(L"vexel", 50)},
        // 4,500 in the file: cut first, it would keep far fewer words.
        {"contact shortened by the rule", "<author name=\"a\" contact=\"" + repeat("vexelzone", 500) + "\"/>",
         L"Contact", wrepeat(L"vexel", 500)},
        // 9,000 in the file, 5,000 after the rule, then cut.
        {"contact past the bound", "<author name=\"a\" contact=\"" + repeat("vexelzone", 1000) + "\"/>",
         L"Contact", wrepeat(L"vexel", 1000).substr(0, 4096)},
    };
    for (const auto& c : cases)
    {
        RegDeleteTreeW32(Key());
        WriteInfo(Info(c.body));
        m_manager.ReadAppInfoFile(0, Exe());
        EXPECT_EQ(c.expected, Text(Key(), c.value)) << c.label;
    }
}

// A file that is there but cannot be used leaves "Path", and for a new
// record "Enable"; it never counts as missing (no defaults).
TEST_F(AppRecords, UnusableFilesLeaveOnlyPathAndEnable)
{
    std::string oversized = Info("<title>Big</title><!--");
    oversized += std::string(1024 * 1024, 'x') + "-->";
    const std::string cases[] = {
        "<application><title>cut off</titl",
        std::string("\xff\xfe\x00\x01garbage\x00\x00", 12),
        "",
        "<other><title>No root</title></other>",
        oversized,
    };
    const std::vector<std::wstring> pathAndEnable = {L"Enable", L"Path"};
    for (const std::string& xml : cases)
    {
        RegDeleteTreeW32(Key());
        WriteInfo(xml);
        m_manager.ReadAppInfoFile(0, Exe());
        EXPECT_EQ(pathAndEnable, ValueNames(Key())) << xml.size() << " bytes: " << xml.substr(0, 40);
    }

    // A folder in place of the file.
    RemoveInfo();
    ASSERT_TRUE(::CreateDirectoryW((m_dir / kInfoFile).c_str(), nullptr));
    RegDeleteTreeW32(Key());
    m_manager.ReadAppInfoFile(0, Exe());
    EXPECT_EQ(pathAndEnable, ValueNames(Key())) << "folder";
    ::RemoveDirectoryW((m_dir / kInfoFile).c_str());

    // An existing record keeps everything but "Path" (no defaults either).
    RegWriteString(Key(), L"Title", L"Old");
    WriteDword(Key(), L"DevicesSupported", 0x01);
    WriteInfo("<application><title>cut off</titl");
    m_manager.LoadAppInfo(0, m_dir / L"game.exe");
    EXPECT_EQ(L"Old", Text(Key(), L"Title"));
    EXPECT_EQ(0x01u, Dword(Key(), L"DevicesSupported"));
    EXPECT_EQ(Exe(), Text(Key(), L"Path"));
}

TEST_F(AppRecords, FileOfExactlyTheLimitIsRead)
{
    const std::string head = "<application><title>Big</title><!--";
    const std::string tail = "--></application>";
    std::string xml = head + std::string(1024 * 1024 - head.size() - tail.size(), 'x') + tail;
    ASSERT_EQ(1024u * 1024u, xml.size());
    WriteInfo(xml);
    m_manager.ReadAppInfoFile(0, Exe());
    EXPECT_EQ(L"Big", Text(Key(), L"Title"));
}

// A path whose file name is no plain key name must not write anywhere, in
// particular not into the "Apps" key itself (its "Enable" is the global
// switch).
TEST_F(AppRecords, UnsafeExecutablePathsWriteNoRecord)
{
    WriteDword(kAppsKey, L"Enable", 0);
    WriteInfo(Info("<title>x</title>"));
    const _REGISTERDATATYPE block = Block(0);
    const std::wstring paths[] = {
        m_dir.Path() + L"\\",
        m_dir.Path() + L"\\..",
        m_dir.Path() + L"\\.",
        std::wstring(L"C:\\apps\\game.exe\0evil.exe", 26),
        m_dir.Path() + L"\\" + std::wstring(300, L'g') + L".exe",
        m_dir.Path() + L"\\" + std::wstring(200, L'd') + L"\\" + std::wstring(100, L'g') + L".exe",
        L"",
    };
    for (const std::wstring& path : paths)
    {
        m_manager.ReadAppInfoFile(0, path);
        m_manager.LoadAppInfo(0, path);
        m_manager.WriteAppRecord(reinterpret_cast<const BYTE*>(&block) + REGISTER_APPINFO_OFFSET, path);
    }
    EXPECT_TRUE(SubkeyNames(kAppsKey).empty());
    EXPECT_EQ((std::vector<std::wstring>{L"Enable", L"PriorityList"}), ValueNames(kAppsKey));
    EXPECT_EQ(0u, Dword(kAppsKey, L"Enable"));
    m_manager.WriteAppRecord(nullptr, Exe());
    EXPECT_TRUE(SubkeyNames(kAppsKey).empty());
}
