// Devices.xml reading: product-id forms, the root rule, document order, and
// catalogues that are missing, malformed, oversized or name files that would
// leave InstallPath\bin.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "DeviceCatalog.h"
#include "Handles.h"
#include "TestEnv.h"

namespace
{

using Paths = std::vector<std::wstring>;

class DeviceCatalogRead : public ::testing::Test
{
protected:
    void WriteCatalog(const std::string& text)
    {
        TestEnv::WriteFileBytes(CatalogPath(), text.data(), text.size());
    }
    std::wstring CatalogPath() const { return m_install.InstallPath() + L"\\Devices.xml"; }
    std::wstring Plugin(const std::wstring& file) const { return m_install.InstallPath() + L"\\bin\\" + file; }
    DWORD Find(LONG pid, Paths& paths) const { return Common::FindDevicePlugins(m_install.InstallPath(), pid, paths); }

    TestEnv::CInstallFixture m_install;
};

TEST_F(DeviceCatalogRead, PidInHexDecimalOrWithLeadingBlanksMatches769)
{
    WriteCatalog("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                 "<devices>\n"
                 "  <device pid=\"0x0301\" file=\"hex.dll\"/>\n"
                 "  <device pid=\"769\" file=\"dec.dll\"/>\n"
                 "  <device pid=\" 769\" file=\"blank.dll\"/>\n"
                 "  <device pid=\"+769\" file=\"sign.dll\"/>\n"
                 "  <device pid=\"770\" file=\"other.dll\"/>\n"
                 "</devices>\n");
    Paths paths;
    ASSERT_EQ(0u, Find(769, paths));
    EXPECT_EQ((Paths{Plugin(L"hex.dll"), Plugin(L"dec.dll"), Plugin(L"blank.dll"), Plugin(L"sign.dll")}), paths);

    Common::CDeviceCatalog catalog;
    ASSERT_EQ(0u, catalog.Load(m_install.InstallPath()));
    Paths unsignedPaths;
    ASSERT_EQ(0u, catalog.FindPluginsUnsigned(769, unsignedPaths));
    EXPECT_EQ(paths, unsignedPaths);
}

TEST_F(DeviceCatalogRead, EntriesCarryBothReadingsAndSkipText)
{
    WriteCatalog("<devices>stray text<a pid=\"-5\" file=\"neg.dll\"/><b file=\"nopid.dll\"/>"
                 "<c pid=\"0x0F07\"/></devices>");
    Common::CDeviceCatalog catalog;
    ASSERT_EQ(0u, catalog.Load(m_install.InstallPath()));
    const auto& entries = catalog.Entries();
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(-5, entries[0].signedPid);
    EXPECT_EQ(L"neg.dll", entries[0].file);
    EXPECT_EQ(0, entries[1].signedPid);
    EXPECT_EQ(0u, entries[1].unsignedPid);
    EXPECT_EQ(0x0F07, entries[2].signedPid);
    EXPECT_EQ(0x0F07u, entries[2].unsignedPid);
    EXPECT_EQ(L"", entries[2].file);

    Paths paths;
    EXPECT_EQ(0u, catalog.FindPlugins(-5, paths));
    EXPECT_EQ(Paths{Plugin(L"neg.dll")}, paths);
}

TEST_F(DeviceCatalogRead, RootNamedDevicesCapitalHasNoEntries)
{
    WriteCatalog("<Devices><device pid=\"769\" file=\"hue.dll\"/></Devices>");
    Paths paths{L"untouched"};
    EXPECT_EQ(Common::CATALOG_NO_ROOT, Find(769, paths));
    EXPECT_EQ(Paths{L"untouched"}, paths);
}

TEST_F(DeviceCatalogRead, OnlyTheFirstDevicesRootCounts)
{
    WriteCatalog("<devices><device pid=\"1\" file=\"first.dll\"/></devices>"
                 "<devices><device pid=\"769\" file=\"second.dll\"/></devices>");
    Paths paths;
    EXPECT_EQ(Common::CATALOG_NO_ENTRY, Find(769, paths));
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(0u, Find(1, paths));
    EXPECT_EQ(Paths{Plugin(L"first.dll")}, paths);
}

TEST_F(DeviceCatalogRead, DuplicatesKeepDocumentOrder)
{
    WriteCatalog("<devices><x pid=\"769\" file=\"zeta.dll\"/><x pid=\"5\" file=\"five.dll\"/>"
                 "<x pid=\"769\" file=\"alpha.dll\"/></devices>");
    Paths paths;
    ASSERT_EQ(0u, Find(769, paths));
    EXPECT_EQ((Paths{Plugin(L"zeta.dll"), Plugin(L"alpha.dll")}), paths);
}

TEST_F(DeviceCatalogRead, MissingFileAttributeGivesBinFolder)
{
    WriteCatalog("<devices><device pid=\"769\"/></devices>");
    Paths paths;
    ASSERT_EQ(0u, Find(769, paths));
    EXPECT_EQ(Paths{m_install.InstallPath() + L"\\bin\\"}, paths);
}

TEST_F(DeviceCatalogRead, FileLeavingBinCountsAsMissing)
{
    const std::string names[] = {"..\\evil.dll", "../evil.dll", "..", ".", ". .", "sub\\x.dll", "sub/x.dll",
                                 "C:x.dll", "x.dll:stream", "\\\\server\\share\\x.dll", "C:\\Windows\\x.dll",
                                 "NUL", "con.dll", "lpt9 .txt", "*.dll", std::string(256, 'a')};
    std::string text = "<devices>";
    for (const std::string& name : names)
        text += "<d pid=\"769\" file=\"" + name + "\"/>";
    text += "<d pid=\"769\" file=\"Kaleo.Hue..v2.dll\"/></devices>";
    WriteCatalog(text);

    Paths paths;
    ASSERT_EQ(0u, Find(769, paths));
    ASSERT_EQ(std::size(names) + 1, paths.size());
    for (size_t i = 0; i < std::size(names); ++i)
        EXPECT_EQ(m_install.InstallPath() + L"\\bin\\", paths[i]) << names[i];
    EXPECT_EQ(Plugin(L"Kaleo.Hue..v2.dll"), paths.back());
}

TEST_F(DeviceCatalogRead, Utf16CatalogueIsDetected)
{
    const std::wstring text = L"\xFEFF<devices><device pid=\"769\" file=\"h\x00FC" L"e.dll\"/></devices>";
    TestEnv::WriteFileBytes(CatalogPath(), text.data(), text.size() * sizeof(wchar_t));
    Paths paths;
    ASSERT_EQ(0u, Find(769, paths));
    EXPECT_EQ(Paths{Plugin(L"h\x00FC" L"e.dll")}, paths);
}

TEST_F(DeviceCatalogRead, MissingCatalogueIsNotLoadable)
{
    Paths paths{L"untouched"};
    EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, Find(769, paths));
    EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, Common::FindDevicePlugins(L"", 769, paths));
    EXPECT_EQ(Paths{L"untouched"}, paths);

    Common::CDeviceCatalog catalog;
    EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, catalog.FindPlugins(769, paths)) << "nothing loaded yet";
}

// An installer that keeps the catalogue open for writing does not make it
// unreadable to the modules.
TEST_F(DeviceCatalogRead, CatalogueHeldOpenByAWriterIsLoadable)
{
    WriteCatalog("<devices><device pid=\"769\" file=\"hue.dll\"/></devices>");
    Common::CHandle writer(::CreateFileW(CatalogPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.IsValid());
    Paths paths;
    EXPECT_EQ(0u, Find(769, paths));
    EXPECT_EQ(Paths{Plugin(L"hue.dll")}, paths);
}

TEST_F(DeviceCatalogRead, MalformedCatalogueIsNotLoadable)
{
    const std::string bad[] = {
        "<devices><device pid=\"769\" file=\"hue.dll\">",
        "<devices><device pid=\"769\" file=\"hue.dll/></devices>",
        std::string("\x00\xFF\x13garbage\x00", 11),
        "",
        std::string(200000, '<'),
    };
    for (const std::string& text : bad)
    {
        WriteCatalog(text);
        Paths paths;
        EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, Find(769, paths)) << text.substr(0, 40);
    }
}

TEST_F(DeviceCatalogRead, OversizedCatalogueIsRefused)
{
    std::string text = "<devices><device pid=\"769\" file=\"hue.dll\"/>";
    text.append(Common::DEVICE_CATALOG_MAX_BYTES, ' ');
    text += "</devices>";
    WriteCatalog(text);
    Paths paths;
    EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, Find(769, paths));

    // Beyond 4 GiB (sparse): a size cut to 32 bits would read just the
    // valid catalogue at its start.
    const std::string head = "<devices><device pid=\"769\" file=\"hue.dll\"/></devices>";
    WriteCatalog(head);
    {
        Common::CHandle file(::CreateFileW(CatalogPath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.IsValid());
        LARGE_INTEGER end;
        end.QuadPart = (1LL << 32) + static_cast<LONGLONG>(head.size()) - 1;
        ASSERT_TRUE(::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::SetEndOfFile(file.Get()));
    }
    EXPECT_EQ(Common::CATALOG_NOT_LOADABLE, Find(769, paths));
    ::DeleteFileW(CatalogPath().c_str());
}

TEST_F(DeviceCatalogRead, DeepAndWideDocumentsDoNotCrash)
{
    std::string deep = "<devices><device pid=\"769\" file=\"hue.dll\"/>";
    for (int i = 0; i < 100000; ++i)
        deep += "<n>";
    for (int i = 0; i < 100000; ++i)
        deep += "</n>";
    deep += "</devices>";
    WriteCatalog(deep);
    Paths paths;
    EXPECT_EQ(0u, Find(769, paths));
    EXPECT_EQ(Paths{Plugin(L"hue.dll")}, paths);

    std::string wide = "<devices>";
    for (int i = 0; i < 20000; ++i)
        wide += "<d pid=\"" + std::to_string(i) + "\" file=\"p" + std::to_string(i) + ".dll\"/>";
    wide += "</devices>";
    WriteCatalog(wide);
    EXPECT_EQ(0u, Find(19999, paths));
    EXPECT_EQ(Paths{Plugin(L"p19999.dll")}, paths);
}

} // namespace
