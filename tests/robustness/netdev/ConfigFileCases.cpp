// Configuration files another process wrote badly. A file the module cannot
// read leaves the attached devices as they are; a missing or empty one
// detaches its module's devices, as a Load of an emptied configuration
// does. Either way the valid files written afterwards are applied.
#include "HostedModules.h"

#include <cstdint>

#include "HueBridgeConfig.h"
#include "IoTDeviceList.h"
#include "Scramble.h"

namespace NetDevRobustness
{
namespace
{

using NetDevice::EncodeLengthField;
using NetDevice::MakeLengthPrefixedScrambledFile;
using NetDevice::MakeScrambledFile;

std::string Nested(size_t levels)
{
    return std::string(levels, '[') + std::string(levels, ']');
}

std::string IoTFile(const std::string& text)
{
    return MakeLengthPrefixedScrambledFile(text, IoTList::CONFIG_KEY);
}

class ConfigFiles : public CHostedModules
{
protected:
    // The valid bridge configuration as plain JSON.
    std::string HueText() const
    {
        std::string text = m_hueBytes;
        NetDevice::Scramble(text, HueBridge::CONFIG_KEY);
        return text;
    }
};

TEST_F(ConfigFiles, BadFilesNeitherCrashNorLoseDevicesAndValidOnesApplyAfterwards)
{
    const std::string iotList = "[" + IoTDevice("aa:bb:cc:dd:ee:01", 0x0401) + "]";
    const int32_t n = static_cast<int32_t>(iotList.size());
    struct
    {
        const char* name;
        bool hue; // else the IoT list
        std::string bytes;
        size_t kept; // devices of the valid state still attached
    } const cases[] = {
        {"hue: truncated", true, m_hueBytes.substr(0, m_hueBytes.size() / 2), 3},
        {"hue: other module's key", true, MakeScrambledFile(HueText(), IoTList::CONFIG_KEY), 3},
        {"hue: wrong member names", true, MakeScrambledFile("{\"Bridgez\":[{\"ID\":\"x\"}]}", HueBridge::CONFIG_KEY), 3},
        {"hue: nested 10,000 levels", true, MakeScrambledFile("{\"Bridges\":" + Nested(10000) + "}", HueBridge::CONFIG_KEY), 3},
        {"hue: a megabyte", true, std::string(1024 * 1024, '\x7F'), 3},
        {"hue: zero length", true, "", 2},
        {"iot: truncated", false, EncodeLengthField(n) + IoTFile(iotList).substr(4, iotList.size() / 2), 3},
        {"iot: other module's key", false, EncodeLengthField(n) + MakeScrambledFile(iotList, HueBridge::CONFIG_KEY), 3},
        {"iot: negative length", false, EncodeLengthField(-1) + IoTFile(iotList).substr(4), 3},
        {"iot: oversized length", false, EncodeLengthField(0x7FFFFFFF) + IoTFile(iotList).substr(4), 3},
        {"iot: nested 10,000 levels", false, IoTFile(Nested(10000)), 3},
        {"iot: zero length field", false, EncodeLengthField(0) + IoTFile(iotList).substr(4), 1},
        {"iot: zero length", false, "", 1},
        // Entries without the members that identify a device replace the
        // configured ones, as any changed list does.
        {"iot: wrong member names", false, IoTFile("[{\"PID\":1025,\"MAC\":\"aa:bb:cc:dd:ee:01\"}]"), 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto attack = Attack("config files", c.name);
        TestEnv::WriteFileBytes(c.hue ? HueConfig() : IoTList(), c.bytes.data(), c.bytes.size());
        if (!Loaded(c.hue ? L"hue" : L"iot"))
            attack.Hang();
        const size_t attached = Attached();
        attack.Lost(static_cast<unsigned>(attached < c.kept ? c.kept - attached : 0));
        EXPECT_EQ(c.kept, attached);
        if (!Restore())
            attack.Hang();
        Finish(attack);
    }
}

} // namespace
} // namespace NetDevRobustness
