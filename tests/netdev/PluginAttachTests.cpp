// Attaching through the catalogue's plug-ins, and detaches that fail.
#include "NetDevFixture.h"

namespace NetDevTest
{
namespace
{

class PluginAttach : public CNetDevFixture
{
protected:
    void SetUp() override
    {
        CNetDevFixture::SetUp();
        Ctl(L"netdev hue --file \"" + HueConfig() +
            L"\" --id 001788fffe123abc --name B --ip 1.2.3.4 --group 1=a --selected 1");
    }
};

TEST_F(PluginAttach, CatalogueEntriesAreTriedInOrderUntilOneAccepts)
{
    struct
    {
        const char* catalogue; // device elements; nullptr: no Devices.xml
        const wchar_t* result;
        size_t copies;
        const char* journal; // Init results in order
    } const cases[] = {
        {"<device pid=\"769\" file=\"KaleoRefusingPlugin.dll\"/><device pid=\"0x0301\" file=\"KaleoHuePlugin.dll\"/>",
         L"Result = 0", 1, "5 0 "},
        {"<device pid=\" 769\" file=\"KaleoNoInitPlugin.dll\"/>", L"Result = 15841", 0, ""},
        {"<device pid=\"769\" file=\"Absent.dll\"/>", L"Result = 126", 0, ""},
        {"<device pid=\"769\" file=\"..\\KaleoHuePlugin.dll\"/>", L"Result = 126", 0, ""},
        {"<device pid=\"0x0401\" file=\"KaleoHuePlugin.dll\"/>", L"Result = 0", 0, ""},
        {nullptr, L"Result = 2", 0, ""},
    };
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    for (const auto& c : cases)
    {
        const std::string name = c.catalogue ? c.catalogue : "(no catalogue)";
        if (c.catalogue)
            WriteCatalogue(c.catalogue);
        else
            ::DeleteFileW((m_install.InstallPath() + L"\\Devices.xml").c_str());
        ::DeleteFileW((m_install.InstallPath() + L"\\PluginJournal.txt").c_str());
        const std::wstring line = L"CSmartlightingDeviceManager::AddDevice | END | " + std::wstring(c.result);
        const size_t before = CountInLog(line);
        ASSERT_TRUE(Load(L"hue")) << name;
        EXPECT_EQ(before + 1, CountInLog(line)) << name;
        EXPECT_EQ(c.copies, Copies().size()) << name;
        std::string results;
        for (const auto& entry : Journal())
            results += entry.Field("result") + " ";
        EXPECT_EQ(c.journal, results) << name;
        ASSERT_TRUE(Command(L"hue", L"Reset", L"CSmartlightingDeviceManager::ClearDevices | END")) << name;
        EXPECT_TRUE(Copies().empty()) << name;
    }
}

// A copy that cannot be deleted at detach: its library is never called
// again, and once the file is free the next Load deletes it and attaches
// the device anew, also after a restart in between.
TEST_F(PluginAttach, ACopyLockedAtDetachIsNeverCalledAgainAndIsDeletedOnceFree)
{
    ASSERT_TRUE(StartModule(L"VxSmartlightingDeviceManager.dll"));
    ASSERT_TRUE(Load(L"hue"));
    ASSERT_EQ(1u, Copies().size());
    const std::wstring copy = Bin() + L"\\" + Copies()[0];
    Common::CHandle lock(::CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);

    for (int round = 0; round < 2; ++round)
        ASSERT_TRUE(Command(L"hue", L"Reset", L"CSmartlightingDeviceManager::ClearDevices | END")) << round;
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::RemoveDevice | DeleteFile(" + copy + L") error "));
    EXPECT_EQ(2u, CountInLog(L"CSmartlightingDeviceManager::ClearDevices | END | Result = 1627"));
    // The second detach stops at the cleared module handle (126), which ends
    // the call before any lookup and without an END line.
    EXPECT_EQ(1u, CountInLog(L"CSmartlightingDeviceManager::RemoveDevice | END"));
    EXPECT_EQ(1u, CountCalls(Journal(), "UnInit", "Hue")) << "the unloaded copy was called again";

    EXPECT_EQ(0, m_module.Event(ServiceHost::SERVICE_EVENT_RESTART));
    EXPECT_EQ(2u, CountInLog(L"DeleteLeftCopies | " + copy + L" still cannot be deleted"));
    EXPECT_EQ(1u, Copies().size());

    lock.Reset();
    ASSERT_TRUE(Load(L"hue"));
    EXPECT_EQ(1u, CountInLog(L"DeleteLeftCopies | " + copy + L" is gone"));
    EXPECT_EQ(2u, CountCalls(Journal(), "Init", "Hue", "0"));
    EXPECT_EQ(1u, Copies().size());
    EXPECT_EQ(0, m_module.UnInit());
    EXPECT_EQ(2u, CountCalls(Journal(), "UnInit", "Hue"));
    EXPECT_TRUE(Copies().empty());
    m_module.Unload();
}

} // namespace
} // namespace NetDevTest
