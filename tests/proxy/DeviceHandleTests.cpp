// "device_handle" is a contract: a key of 0x80000000 and more goes out as a
// negative number and must come back as the same key, and the request side
// reads whatever number the host sends the way it always has.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include "DeviceHandleJson.h"

namespace
{

using nlohmann::json;

TEST(DeviceHandle, TravelsAsASignedNumberAndComesBack)
{
    struct
    {
        DEVICE_HANDLE deviceHandle;
        const char* text;
    } const cases[] = {
        {0, "0"},
        {0x8001, "32769"},
        {0x7FFFFFFF, "2147483647"},
        {0x80000000, "-2147483648"},
        {0xFFFFFFFF, "-1"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.text, DeviceHandleToJson(c.deviceHandle).dump());
        EXPECT_EQ(c.deviceHandle, DeviceHandleFromJson(json::parse(c.text))) << c.text;
    }
}

TEST(DeviceHandle, ReadsOtherNumbersAsTheIntConversionDoes)
{
    EXPECT_EQ(0xFFFFFFFFu, DeviceHandleFromJson(json::parse("4294967295")));
    EXPECT_EQ(2u, DeviceHandleFromJson(json::parse("2.9")));
    EXPECT_THROW(DeviceHandleFromJson(json("7")), json::type_error);
    EXPECT_THROW(DeviceHandleFromJson(json()), json::type_error);
}

} // namespace
