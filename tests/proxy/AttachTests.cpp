// Attaching and detaching devices of each kind: handles, the global
// objects that announce an attachment, the Hue bulb list and the switches.
#include <gtest/gtest.h>

#include <thread>

#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"
#include "KaleoSDKNative.h"
#include "ProxySession.h"
#include "TestEnv.h"
#include "VxKaleoSDKNative.h"

using ProxyTest::CDeviceRegistry;
using ProxyTest::Invoke;

namespace
{

const std::wstring kHueKey =
    std::wstring(DeviceSources::SMART_LIGHTING_KEY) + L"\\" + DeviceSources::PHILIPS_HUE_NAME;

bool GlobalMutexExists(const std::wstring& name)
{
    Common::CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    return mutex.IsValid();
}

std::wstring BulbList()
{
    std::wstring text;
    TestEnv::RegReadString(kHueKey, DeviceSources::HUE_BULBS_VALUE, text);
    return text;
}

nlohmann::json AddRequest(const nlohmann::json& param)
{
    return nlohmann::json{{"func", "AddDevice"}, {"param", param}};
}

std::string Outcome(const nlohmann::json& request)
{
    const ProxyTest::CInvokeResult result = Invoke(request.dump());
    return result.response.value("message", std::string("?")) + " " +
           std::to_string(result.response.value("result", -1));
}

// What another process finds when it takes the mutex at once: 0 taken,
// 1 abandoned, 2 owned, 3 missing (MutexProbe's exit code).
DWORD ProbeMutex(const std::wstring& name)
{
    return TestEnv::RunProcess(TestEnv::BinDir() + L"\\MutexProbe.exe", L"\"" + name + L"\"", 30000);
}

// Runs one host call on a thread of its own, which has ended on return.
template <typename F>
void OnOtherThread(F call)
{
    std::thread(call).join();
}

class Attach : public ::testing::Test
{
protected:
    void TearDown() override { ProxyUnInit(); }
    CDeviceRegistry m_registry;
};

} // namespace

TEST_F(Attach, KeyboardIsAttachedOnceAndAnnouncedByItsMutex)
{
    m_registry.PublishKeyboard(0x8001, L"{K1}");
    m_registry.PublishKeyboard(0x8002, L"{K2}");
    ASSERT_EQ(2, ProxyInit());
    CKaleoSDKNative& native = *CKaleoSDKNative::Instance();
    EXPECT_EQ(0u, native.RemoveDevice(0x1234)); // nothing attached: any handle

    EXPECT_EQ(0x8001, ProxyTest::AttachByContainer(0x84, "{K1}"));
    const std::wstring mutexName = L"Global\\7&8001&0&0000";
    EXPECT_TRUE(GlobalMutexExists(mutexName));
    EXPECT_EQ("error on AddHIDDevice 183", Outcome(AddRequest({{"pid", 0x84}, {"containerId", "{K1}"}})));
    EXPECT_EQ("error on AddHIDDevice 1168", Outcome(AddRequest({{"pid", 0x90}, {"containerId", "{K1}"}})));

    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), native.RemoveDevice(0x8002));
    EXPECT_EQ(0u, ProxyRemoveDevice(0x8001));
    EXPECT_FALSE(GlobalMutexExists(mutexName));
    EXPECT_EQ(0u, native.AttachedCount());
}

TEST_F(Attach, AccessoryApplicationHandleComesFromPidAndIndex)
{
    ProxyTest::CBroadcastPresence service;
    m_registry.PublishBroadcast(L"Lights", ::GetCurrentProcessId(), 3, DeviceSources::BROADCAST_SUPPORTS_770);
    ProxyInit();
    EXPECT_EQ(R"({"message":"SUCCESS","result":0,"return":{"device_handle":3023}})",
              Invoke(AddRequest({{"pid", 770}, {"index", 3}}).dump()).text);
    EXPECT_TRUE(GlobalMutexExists(L"Global\\{43A54ADB-A530-4E8A-A3C6-88528EECFB17}3"));
    EXPECT_EQ("error on AddKaleoConnectDevice 183", Outcome(AddRequest({{"pid", 770}, {"index", 3}})));
    EXPECT_EQ("error on AddKaleoConnectDevice 1168", Outcome(AddRequest({{"pid", 818}, {"index", 3}})));
    // An index whose handle would not fit 32 bits matches nothing.
    EXPECT_EQ("error on AddKaleoConnectDevice 1168", Outcome(AddRequest({{"pid", 770}, {"index", 2147483647}})));
}

TEST_F(Attach, HueBulbListFollowsAttachAndDetach)
{
    const nlohmann::json bulb7 = AddRequest({{"pid", 769}, {"id", 7}});
    m_registry.SetHue(L"", L"3,5");
    ProxyInit();
    // No bridge paired: nothing attached, nothing written.
    EXPECT_EQ("error on AddPhilipshueDevice 1167", Outcome(bulb7));
    EXPECT_EQ(L"3,5", BulbList());

    m_registry.SetHue(L"bridge-1", L"3,5");
    EXPECT_EQ("SUCCESS 0", Outcome(bulb7));
    EXPECT_EQ(L"3,5,7", BulbList());
    EXPECT_TRUE(GlobalMutexExists(DeviceSources::HUE_MUTEX));
    EXPECT_EQ("error on AddPhilipshueDevice 183", Outcome(bulb7));
    EXPECT_EQ(L"3,5,7", BulbList());

    EXPECT_EQ(0u, ProxyRemoveDevice(3017));
    EXPECT_EQ(L"3,5", BulbList());
    EXPECT_TRUE(CKaleoSDKNative::Instance()->HoldsHueMutex()); // bulbs 3 and 5 remain listed

    // The last listed bulb leaves: an empty list and no Hue mutex.
    m_registry.SetHue(L"bridge-1", L"");
    EXPECT_EQ("SUCCESS 0", Outcome(bulb7));
    EXPECT_EQ(L"7", BulbList());
    EXPECT_EQ(0u, ProxyRemoveDevice(3017));
    EXPECT_EQ(L"", BulbList());
    EXPECT_FALSE(CKaleoSDKNative::Instance()->HoldsHueMutex());
    EXPECT_FALSE(GlobalMutexExists(DeviceSources::HUE_MUTEX));
}

TEST_F(Attach, SwitchesAnswerOnlyRealChanges)
{
    m_registry.PublishKeyboard(0x8001, L"{K1}");
    ProxyInit();
    const auto state = [](const nlohmann::json& param) {
        return Outcome(nlohmann::json{{"func", "SetDeviceState"}, {"param", param}});
    };
    EXPECT_EQ("error on SetEnable 1627", state({{"enable", 1}, {"device_handle", 0x8001}})); // none attached
    EXPECT_EQ("SUCCESS 0", state({{"enable", 0}}));
    EXPECT_EQ("error on SetEnable 1627", state({{"enable", 0}}));
    EXPECT_EQ("SUCCESS 0", state({{"enable", true}}));
    EXPECT_EQ(1, CKaleoSDKNative::Instance()->Enabled());

    ASSERT_EQ(0x8001, ProxyTest::AttachByContainer(0x84, "{K1}"));
    EXPECT_EQ("SUCCESS 0", state({{"enable", 0}, {"device_handle", 0x8001}}));
    EXPECT_EQ("SUCCESS 0", state({{"enable", 0}, {"device_handle", 0x8001}}));
    EXPECT_EQ("error on SetEnable 1168", state({{"enable", 0}, {"device_handle", 0x8002}}));
}

TEST_F(Attach, GlobalMutexesAreReleasedWhicheverThreadDetaches)
{
    m_registry.PublishKeyboard(0x8001, L"{K1}");
    m_registry.SetHue(L"bridge-1", L"");
    // The host attaches on one thread and detaches, or uninitialises, on
    // another; both threads have ended when the peer looks.
    const struct
    {
        const char* name;
        nlohmann::json request;
        int handle;
        std::wstring mutex;
        bool byUnInit;
    } cases[] = {
        {"keyboard", AddRequest({{"pid", 0x84}, {"containerId", "{K1}"}}), 0x8001, L"Global\\7&8001&0&0000", false},
        {"Hue bulb", AddRequest({{"pid", 769}, {"id", 7}}), 3017, DeviceSources::HUE_MUTEX, false},
        {"Hue bulb at UnInit", AddRequest({{"pid", 769}, {"id", 7}}), 3017, DeviceSources::HUE_MUTEX, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ProxyInit();
        OnOtherThread([&] { EXPECT_EQ("SUCCESS 0", Outcome(c.request)); });
        // The peer's own handle keeps the object once the proxy has closed its.
        Common::CHandle peer(::OpenMutexW(SYNCHRONIZE, FALSE, c.mutex.c_str()));
        ASSERT_TRUE(peer.IsValid());
        EXPECT_EQ(2u, ProbeMutex(c.mutex)); // owned while attached
        OnOtherThread([&] {
            if (c.byUnInit)
                ProxyUnInit();
            else
                EXPECT_EQ(0u, ProxyRemoveDevice(c.handle));
        });
        EXPECT_EQ(0u, ProbeMutex(c.mutex)); // taken at once, not abandoned
        ProxyUnInit();
    }
}

TEST_F(Attach, BulbListThatCannotBeReadOrWrittenWholeStaysAsItWas)
{
    std::wstring list;
    for (int bulb = 1000; list.size() < 300; ++bulb)
        list += std::to_wstring(bulb) + L",";
    const std::wstring tooLong = list.substr(0, 300);  // more than a reader accepts
    const std::wstring full = list.substr(0, 254) + L"12345"; // 259: no room for one more bulb
    for (const std::wstring& text : {tooLong, full})
    {
        SCOPED_TRACE(text.size());
        m_registry.SetHue(L"bridge-1", text);
        ProxyInit();
        Outcome(AddRequest({{"pid", 769}, {"id", 7}}));
        EXPECT_EQ(text, BulbList());
        ProxyUnInit();
    }
}
