// The two request entries answer with exact texts and codes, before and
// after Init, for good and bad requests alike.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DeviceRegistryFixture.h"
#include "ProxyRequests.h"
#include "ProxySession.h"
#include "VxKaleoSDKNative.h"

using ProxyTest::CDeviceRegistry;
using ProxyTest::Invoke;

namespace
{

const char kNotFound[] = R"({"message":"ERROR_NOT_FOUND","result":1168,"return":null})";
const char kBadFormat[] = R"({"message":"ERROR_BAD_FORMAT","result":11,"return":null})";

struct CInvokeCase
{
    const char* request;
    DWORD code;
    const char* response;
};

void ExpectInvoke(const CInvokeCase& c)
{
    const ProxyTest::CInvokeResult result = Invoke(c.request);
    EXPECT_EQ(c.code, result.code) << c.request;
    EXPECT_EQ(c.response, result.text) << c.request;
}

std::string Action(const char* request)
{
    char* result = ProxyAction(request, true);
    if (!result)
        return "(null)";
    std::string text(result);
    std::free(result);
    return text;
}

} // namespace

TEST(ProxyRequests, InvokeAnswersEachRequestWithItsExactText)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(0x8001, L"{K1}");
    const CInvokeCase before[] = {
        {"{}", 1168, kNotFound},
        {R"({"func":"Blink"})", 4312, R"({"message":"ERROR_OBJECT_NOT_FOUND","result":4312,"return":null})"},
        {R"({"func":"AddDevice"})", 4312, R"({"message":"ERROR_OBJECT_NOT_FOUND","result":4312,"return":null})"},
        {"not json", 11, kBadFormat},
        {"", 11, kBadFormat},
    };
    for (const CInvokeCase& c : before)
        ExpectInvoke(c);

    ASSERT_EQ(1, ProxyInit());
    const CInvokeCase after[] = {
        {"{}", 1168, kNotFound},
        {R"({"func":null})", 1168, kNotFound},
        {R"({"func":"Blink"})", 1606, R"({"message":"ERROR_UNKNOWN_FEATURE","result":1606,"return":null})"},
        {R"({"func":7})", 1606, R"({"message":"ERROR_UNKNOWN_FEATURE","result":1606,"return":null})"},
        {"[1,2]", 11, kBadFormat},
        {R"({"func":"AddDevice"})", 0, R"({"message":"param pid is null","result":87,"return":null})"},
        {R"({"func":"AddDevice","param":{"pid":770}})", 0,
         R"({"message":"param index is null","result":1413,"return":null})"},
        {R"({"func":"AddDevice","param":{"pid":769}})", 0, R"({"message":"param id is null","result":13,"return":null})"},
        {R"({"func":"AddDevice","param":{"pid":132}})", 0,
         R"({"message":"param containerId is null","result":87,"return":null})"},
        {R"({"func":"AddDevice","param":{"pid":132,"containerId":5}})", 11, kBadFormat},
        {R"({"func":"AddDevice","param":"pid"})", 11, kBadFormat},
        {R"({"func":"AddDevice","param":{"pid":"132","containerId":"{K1}"}})", 11, kBadFormat},
        {R"({"func":"AddDevice","param":{"pid":132,"containerId":"{none}"}})", 0,
         R"({"message":"error on AddHIDDevice","result":1168,"return":null})"},
        {R"({"func":"AddDevice","param":{"pid":132.9,"containerId":"{K1}"}})", 0,
         R"({"message":"SUCCESS","result":0,"return":{"device_handle":32769}})"},
        {R"({"func":"AddDevice","param":{"pid":132,"containerId":"{K1}"}})", 0,
         R"({"message":"error on AddHIDDevice","result":183,"return":null})"},
        {R"({"func":"SetDeviceState","param":{}})", 0, R"({"message":"param is invalid","result":87,"return":null})"},
        {R"({"func":"SetDeviceState","param":{"enable":1,"device_handle":5}})", 0,
         R"({"message":"error on SetEnable","result":1168,"return":null})"},
    };
    for (const CInvokeCase& c : after)
        ExpectInvoke(c);

    // No response pointer: nothing to write into.
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ProxyInvoke(L"{}", nullptr));
    EXPECT_EQ(1, ProxyUnInit());
}

TEST(ProxyRequests, ActionEntryAnswersWithStatus)
{
    CDeviceRegistry registry;
    EXPECT_EQ(R"({"Status":-1,"device_handle":0})", Action(R"({"Action":3,"pid":1})"));
    EXPECT_EQ(R"({"Status":-1})", Action(R"({"Action":3})"));
    EXPECT_EQ(R"({"Status":-1})", Action(R"({"Action":9})"));
    EXPECT_EQ(R"({"Status":-1})", Action("{}"));
    EXPECT_EQ(R"({"Status":-2147467259})", Action("not json"));
    EXPECT_EQ(R"({"Status":-2147467259})", Action(nullptr));
    EXPECT_EQ(R"({"Status":1627})", Action(R"({"Action":4,"device_handle":5})"));
    EXPECT_EQ(R"({"Status":4312,"message":"ERROR_OBJECT_NOT_FOUND","result":4312,"return":null})",
              Action(R"({"Action":5,"message":"{\"func\":\"AddDevice\"}"})"));

    // No devices published: Init answers -1.
    EXPECT_EQ(R"({"Status":-1,"numDevice":-1})", Action(R"({"Action":1})"));
    EXPECT_EQ(R"({"Status":1606,"message":"ERROR_UNKNOWN_FEATURE","result":1606,"return":null})",
              Action(R"({"Action":5,"message":"{\"func\":\"Blink\"}"})"));
    // Only a message that is a string holding the request survives the unquoting.
    EXPECT_EQ(R"({"Status":0,"message":"param pid is null","result":87,"return":null})",
              Action(R"({"Action":5,"message":"{\"func\":\"AddDevice\"}"})"));
    EXPECT_EQ(R"({"Status":11,"message":"ERROR_BAD_FORMAT","result":11,"return":null})",
              Action(R"({"Action":5,"message":{"func":"AddDevice"}})"));
    EXPECT_EQ(R"({"Status":0,"error":0})", Action(R"({"Action":2})"));
    EXPECT_EQ(R"({"Status":1627,"error":1627})", Action(R"({"Action":2})"));
    EXPECT_EQ(nullptr, ProxyAction(R"({"Action":9})", false));
}

TEST(ProxyRequests, ActionResultComesFromTheHostsAllocator)
{
    static size_t requested = 0;
    ProxySetAllocator([](unsigned long long bytes) -> void* {
        requested = static_cast<size_t>(bytes);
        return std::malloc(static_cast<size_t>(bytes));
    });
    const std::string text = Action(R"({"Action":9})");
    ProxySetAllocator(nullptr);
    EXPECT_EQ(R"({"Status":-1})", text);
    EXPECT_EQ(text.size() + 2, requested);
}

TEST(ProxyRequests, NestingDeeperThan256LevelsIsAnsweredAsUnreadable)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(0x8001, L"{K1}");
    ASSERT_EQ(1, ProxyInit());
    const auto nested = [](size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    // The request's own object and "param" are two of the levels.
    const auto add = [](const std::string& value) {
        return R"({"func":"AddDevice","param":{"pid":132,"containerId":"{none}","x":)" + value + "}}";
    };
    const std::string missing = R"({"message":"error on AddHIDDevice","result":1168,"return":null})";
    const struct
    {
        std::string request;
        DWORD code;
        std::string response;
    } invokes[] = {
        {add(nested(254)), 0, missing},
        {add(nested(255)), 11, kBadFormat},
        // Would overflow the stack while copied into the handler.
        {add(nested(1000000)), 11, kBadFormat},
    };
    for (const auto& c : invokes)
        ExpectInvoke({c.request.c_str(), c.code, c.response.c_str()});

    const std::string unreadable = R"({"Status":-2147467259})";
    const std::pair<std::string, std::string> actions[] = {
        {R"({"Action":9,"x":)" + nested(255) + "}", R"({"Status":-1})"},
        {R"({"Action":9,"x":)" + nested(256) + "}", unreadable},
        // Would overflow the stack while forwarded.
        {R"({"Action":5,"message":)" + nested(1000000) + "}", unreadable},
    };
    for (const auto& c : actions)
        EXPECT_EQ(c.second, Action(c.first.c_str())) << c.first.size();
    EXPECT_EQ(1, ProxyUnInit());
}
