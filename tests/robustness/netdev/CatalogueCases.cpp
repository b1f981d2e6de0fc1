// The catalogue as the device managers read it at every attach: unusable
// ones attach nothing new and detach nothing attached.
#include "HostedModules.h"

#include <algorithm>
#include <functional>

namespace NetDevRobustness
{
namespace
{

class ModuleCatalogue : public CHostedModules
{
};

TEST_F(ModuleCatalogue, UnusableCataloguesAttachNothingNewAndLoseNothing)
{
    const std::wstring file = m_install.InstallPath() + L"\\Devices.xml";
    const auto write = [&](const std::string& text) { TestEnv::WriteFileBytes(file, text.data(), text.size()); };
    std::string huge = "<?xml version=\"1.0\"?><devices>";
    while (huge.size() < 5 * 1024 * 1024)
        huge += "<device pid=\"0x0401\" file=\"KaleoIoTPlugin.dll\"/>";
    huge += "</devices>";
    struct
    {
        const char* name;
        std::function<void()> spoil;
        int result; // of the third device's attach
    } const cases[] = {
        {"device managers: malformed", [&] { write("<devices><device pid="); }, 2},
        {"device managers: huge", [&] { write(huge); }, 2},
        {"device managers: missing", [&] { ::DeleteFileW(file.c_str()); }, 2},
        {"device managers: root named Devices",
         [&] { write("<Devices><device pid=\"0x0401\" file=\"KaleoIoTPlugin.dll\"/></Devices>"); },
         0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto attack = Attack("catalogue", c.name);
        c.spoil();
        const std::wstring line = L"CIoTDeviceManager::AddDevice | END | Result = " + std::to_wstring(c.result);
        const size_t before = CountInLog(line);
        WriteIoTList({IoTDevice("aa:bb:cc:dd:ee:03", 0x0401)});
        if (!Loaded(L"iot"))
            attack.Hang();
        EXPECT_EQ(before + 1, CountInLog(line));
        EXPECT_EQ(3u, Copies().size()) << "a device was attached without a catalogue entry";
        attack.Lost(static_cast<unsigned>(3 - std::min<size_t>(3, Attached())));
        if (!Restore())
            attack.Hang();
        Finish(attack);
    }
}

} // namespace
} // namespace NetDevRobustness
