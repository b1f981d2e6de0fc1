// Catalogues the proxy cannot use, or that name plug-in files outside
// InstallPath\bin. What was found and attached stays; no record takes a
// plug-in path that leaves the folder; a valid catalogue written afterwards
// is used for the next device found.
#include "ProxyRig.h"

#include <functional>

#include "Attack.h"
#include "VxKaleoSDKNative.h"

namespace ProxyRobustness
{
namespace
{

std::string Entry(const std::string& file)
{
    return "<devices><device pid=\"0x0084\" file=\"" + file + "\"/><device pid=\"0x0090\" file=\"Usb.dll\"/></devices>";
}

class Catalogue : public CProxyRig
{
protected:
    Catalogue() : CProxyRig(1) {}

    // Records whose plug-in path is not a file right inside InstallPath\bin.
    unsigned Escaped() const
    {
        const std::wstring bin = m_registry.InstallPath() + L"\\bin\\";
        unsigned escaped = 0;
        for (const auto& record : Manager().CopyRecords())
        {
            const std::wstring& path = record.second.pluginPath;
            escaped += path.compare(0, bin.size(), bin) != 0 || path.find_first_of(L"\\/:", bin.size()) != std::wstring::npos ||
                       path.find(L"..") != std::wstring::npos;
        }
        return escaped;
    }
};

TEST_F(Catalogue, UnusableOrEscapingCataloguesLoseNothingAndAValidOneIsUsedAfterwards)
{
    std::string binary(4096, '\0');
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 131 + 7);
    struct
    {
        const char* name;
        std::function<void()> write;
    } const cases[] = {
        {"malformed", [&] { m_registry.WriteCatalogue("<devices><device pid=\"0x0084\" file="); }},
        {"huge", [&] { m_registry.WriteCatalogue(ProxyTest::RepeatedCatalogue(5 * 1024 * 1024)); }},
        {"missing", [&] { ::DeleteFileW((m_registry.InstallPath() + L"\\Devices.xml").c_str()); }},
        {"binary junk", [&] { m_registry.WriteCatalogue(binary); }},
        {"root named Devices", [&] { m_registry.WriteCatalogue("<Devices><device pid=\"0x0084\" file=\"K.dll\"/></Devices>"); }},
        {"file up out of the folder", [&] { m_registry.WriteCatalogue(Entry("..\\..\\Windows\\evil.dll")); }},
        {"file with a drive", [&] { m_registry.WriteCatalogue(Entry("C:\\evil.dll")); }},
        {"file on a share", [&] { m_registry.WriteCatalogue(Entry("\\\\server\\share\\evil.dll")); }},
        {"file of 4,000 characters", [&] { m_registry.WriteCatalogue(Entry(std::string(4000, 'f') + ".dll")); }},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Robustness::CAttack attack("catalogue", c.name);
        c.write();
        // The monitor and a rescan read it for a device published now.
        Publish();
        ::Sleep(CDeviceManagerNative::SETTLE_MS + 1000);
        ProxyInit();
        EXPECT_EQ(0u, Escaped());
        attack.Lost(Lost());
        m_registry.WriteCatalogue(ProxyTest::kCatalogue);
        if (!Found() || !Served(m_attached[0]))
            attack.Hang();
        attack.Finish();
    }
}

} // namespace
} // namespace ProxyRobustness
