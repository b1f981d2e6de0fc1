// The smart-lighting configuration as the device manager reads it
// (HueBridge::ReadBridgeConfiguration through ConfigReader): the text
// scrambled as a whole file and unscrambled again, line feeds and tabs
// removed, the nesting guard, then the walk to the first bridge, its texts
// and its groups in the order the record is built. The input is the plain
// text; FuzzScrambledFile covers the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "ConfigNames.h"
#include "FuzzSupport.h"
#include "HueBridgeWalk.h"
#include "JsonNesting.h"
#include "ScrambleBytes.h"

using namespace NetDevice;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text = MakeScrambledFile(std::string(reinterpret_cast<const char*>(data), size),
                                         SMARTLIGHTING_CONFIG_KEY);
    Scramble(text, SMARTLIGHTING_CONFIG_KEY);
    FUZZ_CHECK(text.size() == size);
    KaleoFuzz::RemoveLineFeedsAndTabs(text);
    if (text.empty() || !Common::JsonNestingWithin(text.data(), text.size(), KaleoFuzz::MAX_NESTING))
        return 0;
    try
    {
        const HueBridge::CBridgeJson bridge(text);
        for (const char* name : {HUE_ID, HUE_NAME, HUE_IP_ADDRESS, HUE_SELECTED_GROUP})
            FUZZ_CHECK(KaleoFuzz::IsUtf8(bridge.Text(name)));
        const std::vector<HueBridge::CGroupLights> groups = bridge.Groups();
        for (const HueBridge::CGroupLights& group : groups)
            FUZZ_CHECK(KaleoFuzz::IsUtf8(group.id));
    }
    catch (const nlohmann::json::exception&)
    {
        // Not the expected JSON: 5930 with the library's message.
    }
    return 0;
}
