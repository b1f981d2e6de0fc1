// The walks of the two configuration texts before anything becomes a
// record: what each element or group gives, in which order, and where the
// walk stops.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HueBridgeWalk.h"
#include "IoTListWalk.h"

namespace
{

TEST(ConfigWalk, IoTListKeepsThePlaceOfEveryElementUpToTheFirstNull)
{
    std::vector<IoTList::CListedDevice> devices;
    ASSERT_EQ(IoTList::EListWalk::Listed,
              IoTList::WalkDeviceList(R"([{"pid":4294967297,"eid":-1,"handle":-1,"device_name":"Lamp",)"
                                      R"("mac_address":7,"serial_number":""},"x",{"pid":1.5},null,{"pid":9}])",
                                      devices));
    ASSERT_EQ(3u, devices.size());
    EXPECT_EQ(1, devices[0].pid);
    EXPECT_EQ(-1, devices[0].eid);
    EXPECT_EQ(0xFFFFFFFFFFFFFFFFull, devices[0].handle);
    const bool present[] = {true, false, false, true};  // name, mac (a number), ip (absent), serial ("")
    for (size_t i = 0; i < IoTList::LISTED_TEXTS; ++i)
        EXPECT_EQ(present[i], devices[0].hasText[i]) << IoTList::LISTED_TEXT_NAMES[i];
    EXPECT_EQ("Lamp", devices[0].texts[0]);
    EXPECT_EQ(0, devices[1].pid);  // not an object: nothing listed
    EXPECT_EQ(0, devices[2].pid);  // a fraction is no integer

    EXPECT_EQ(IoTList::EListWalk::Listed, IoTList::WalkDeviceList("null", devices));
    EXPECT_TRUE(devices.empty());
    EXPECT_THROW(IoTList::WalkDeviceList(R"({"a":[]})", devices), nlohmann::json::type_error);
}

TEST(ConfigWalk, IoTListStopsAtTheCapWithTheFirstDevices)
{
    std::string text = "[";
    for (size_t k = 0; k <= IoTList::MAX_LISTED_DEVICES; ++k)
        text += (k ? ",{\"pid\":" : "{\"pid\":") + std::to_string(k) + "}";
    text += "]";
    std::vector<IoTList::CListedDevice> devices;
    EXPECT_EQ(IoTList::EListWalk::TooMany, IoTList::WalkDeviceList(text, devices));
    ASSERT_EQ(IoTList::MAX_LISTED_DEVICES, devices.size());
    EXPECT_EQ(static_cast<int32_t>(IoTList::MAX_LISTED_DEVICES - 1), devices.back().pid);
}

TEST(ConfigWalk, BridgeGroupsComeInWalkOrderWithTheirLightCounts)
{
    struct
    {
        const char* groups;
        std::vector<std::string> ids;
        std::vector<unsigned> lights;
    } const cases[] = {
        {R"({"b":{"Id":"2","Lights":["1","2"]},"a":{"Id":"1","Lights":{"x":1,"y":2,"z":3}}})", {"1", "2"}, {3, 2}},
        {R"([{"Id":"g","Lights":7},{"Id":"h","Lights":null},{"Id":"i"}])", {"g", "h", "i"}, {1, 0, 0}},
        {"null", {}, {}},
    };
    for (const auto& c : cases)
    {
        const std::string text = std::string(R"({"Bridges":[{"Id":"b","Groups":)") + c.groups + "}]}";
        const HueBridge::CBridgeJson bridge(text);
        const std::vector<HueBridge::CGroupLights> groups = bridge.Groups();
        ASSERT_EQ(c.ids.size(), groups.size()) << c.groups;
        for (size_t i = 0; i < groups.size(); ++i)
        {
            EXPECT_EQ(c.ids[i], groups[i].id) << c.groups;
            EXPECT_EQ(c.lights[i], groups[i].lights) << c.groups;
        }
    }
    // A group without a string "Id", a missing member, no bridge: the library's errors.
    EXPECT_THROW(HueBridge::CBridgeJson(R"({"Bridges":[{"Groups":[{"Id":1}]}]})").Groups(), nlohmann::json::exception);
    EXPECT_THROW(HueBridge::CBridgeJson(R"({"Bridges":[{"Groups":"g"}]})").Groups(), nlohmann::json::exception);
    EXPECT_THROW(HueBridge::CBridgeJson(R"({"Bridges":[{}]})").Text("Name"), nlohmann::json::exception);
    EXPECT_THROW(HueBridge::CBridgeJson(R"({"Bridges":[]})"), nlohmann::json::exception);
}

} // namespace
