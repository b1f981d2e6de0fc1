// The members read from a request, apart from the device work: which null
// member ends the read, the integer conversion, and what a forwarded
// "message" becomes.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "JsonInt.h"

#include "RequestFields.h"

using nlohmann::json;
using namespace VxKaleoSDKProxy;

namespace
{

EDeviceKind KindOf(int pid)
{
    return pid == 770 ? EDeviceKind::Broadcast : pid == 769 ? EDeviceKind::PhilipsHue : EDeviceKind::Hid;
}

TEST(RequestFields, AddDeviceReadsThePidThenTheMemberOfItsKind)
{
    struct
    {
        const char* request;
        EAddDeviceNull nullMember;
        int pid;
        int number;
        const char* containerId;
    } const cases[] = {
        {R"({})", EAddDeviceNull::Pid, 0, 0, ""},
        {R"({"param":{"pid":null,"index":3}})", EAddDeviceNull::Pid, 0, 0, ""},
        {R"({"param":{"pid":770,"id":3}})", EAddDeviceNull::Index, 770, 0, ""},
        {R"({"param":{"pid":770,"index":3.9}})", EAddDeviceNull::None, 770, 3, ""},
        {R"({"param":{"pid":769,"index":3}})", EAddDeviceNull::Id, 769, 0, ""},
        {R"({"param":{"pid":769,"id":-2}})", EAddDeviceNull::None, 769, -2, ""},
        {R"({"param":{"pid":5,"id":2}})", EAddDeviceNull::ContainerId, 5, 0, ""},
        {R"({"param":{"pid":4294967301,"containerId":"{A}"}})", EAddDeviceNull::None, 5, 0, "{A}"},
    };
    for (const auto& c : cases)
    {
        json request = json::parse(c.request);
        const CAddDeviceParams params = ReadAddDeviceParams(request, &KindOf);
        EXPECT_EQ(c.nullMember, params.nullMember) << c.request;
        EXPECT_EQ(c.pid, params.pid) << c.request;
        EXPECT_EQ(c.number, params.number) << c.request;
        EXPECT_EQ(c.containerId, params.containerId) << c.request;
    }
}

TEST(RequestFields, MembersOfTheWrongTypeRaiseTheLibrarysTypeError)
{
    const char* const addDevice[] = {
        R"({"param":{"pid":"770"}})",
        R"({"param":{"pid":770,"index":[1]}})",
        R"({"param":{"pid":5,"containerId":7}})",
        R"({"param":[1]})",
        R"([1])",
    };
    for (const char* text : addDevice)
    {
        json request = json::parse(text);
        EXPECT_THROW(ReadAddDeviceParams(request, &KindOf), json::type_error) << text;
    }
    const char* const deviceState[] = {
        R"({"param":{"enable":"1"}})",
        R"({"param":{"enable":1,"device_handle":{}}})",
        R"({"param":"x"})",
    };
    for (const char* text : deviceState)
    {
        json request = json::parse(text);
        EXPECT_THROW(ReadDeviceStateParams(request), json::type_error) << text;
    }
}

TEST(RequestFields, DeviceStateReadsTheHandleOnlyWithEnable)
{
    struct
    {
        const char* request;
        bool hasEnable;
        int enable;
        bool hasDeviceHandle;
        int deviceHandle;
    } const cases[] = {
        {R"({"param":{"device_handle":"not read"}})", false, 0, false, 0},
        {R"({"param":{"enable":0}})", true, 0, false, 0},
        {R"({"param":{"enable":1,"device_handle":null}})", true, 1, false, 0},
        {R"({"param":{"enable":1,"device_handle":-2147483648}})", true, 1, true, -2147483647 - 1},
    };
    for (const auto& c : cases)
    {
        json request = json::parse(c.request);
        const CDeviceStateParams params = ReadDeviceStateParams(request);
        EXPECT_EQ(c.hasEnable, params.hasEnable) << c.request;
        EXPECT_EQ(c.enable, params.enable) << c.request;
        EXPECT_EQ(c.hasDeviceHandle, params.hasDeviceHandle) << c.request;
        EXPECT_EQ(c.deviceHandle, params.deviceHandle) << c.request;
    }
}

TEST(RequestFields, ForwardedMessageLosesItsQuotesAndBackslashes)
{
    struct
    {
        json message;
        const char* text;
    } const cases[] = {
        {json("{\"func\":\"AddDevice\"}"), R"({"func":"AddDevice"})"},
        {json::parse(R"({"func":"AddDevice"})"), R"("func":"AddDevice")"},
        {json(7), "7"},
        {json(nullptr), "null"},
        {json(""), ""},
        {json("\""), "\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, UnquoteForwarded(c.message)) << c.message.dump();
}

TEST(RequestFields, FloatsBeyondTheIntRangeReadAsIntMin)
{
    // The library's own conversion of these is undefined; the processor's gives INT_MIN.
    struct
    {
        const char* value;
        int number;
    } const cases[] = {
        {"88888888888888888888073741823", INT_MIN}, {"-1e300", INT_MIN},  {"2147483648.0", INT_MIN},
        {"2147483647.9", INT_MAX},                  {"-2147483648.9", INT_MIN}, {"-7.9", -7},
        {"4294967301", 5},                          {"true", 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.number, JsonInt(json::parse(c.value))) << c.value;

    json request = json::parse(R"({"param":{"enable":1e30,"device_handle":-1e30}})");
    const CDeviceStateParams state = ReadDeviceStateParams(request);
    EXPECT_EQ(INT_MIN, state.enable);
    EXPECT_EQ(INT_MIN, state.deviceHandle);
    request = json::parse(R"({"param":{"pid":9e99,"containerId":"{A}"}})");
    EXPECT_EQ(INT_MIN, ReadAddDeviceParams(request, &KindOf).pid);
}

} // namespace
