// The device side in another process: the publisher stand-in's pipe
// command writes into the data pipe of a device the proxy attached, found
// by its device handle as the stand-in derives it.
#include <gtest/gtest.h>

#include <thread>

#include "DeviceRegistryFixture.h"
#include "ProxySession.h"
#include "TestEnv.h"
#include "VxKaleoSDKNative.h"

using ProxyTest::CDeviceRegistry;
using ProxyTest::CEventSink;

namespace
{

constexpr int kKeyboard = 0x8001;

class DeviceSide : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TestEnv::FileExists(m_kaleoctl));
        m_registry.PublishKeyboard(kKeyboard, L"{K1}");
        ASSERT_EQ(1, ProxyInit());
        ASSERT_EQ(kKeyboard, ProxyTest::AttachByContainer(0x84, "{K1}"));
    }
    void TearDown() override { ProxyUnInit(); }

    // kaleoctl pipe send --handle <keyboard> <what>; its exit code.
    DWORD Send(const std::wstring& what) const
    {
        std::string output;
        const DWORD rc = TestEnv::RunProcess(
            m_kaleoctl, L"pipe send --handle " + std::to_wstring(kKeyboard) + L" " + what, 30000, &output);
        EXPECT_EQ(0u, rc) << TestEnv::Narrow(what) << ": " << output;
        return rc;
    }

    const std::wstring m_kaleoctl = TestEnv::PairedBinDir() + L"\\kaleoctl.exe";
    CDeviceRegistry m_registry;
    CEventSink m_sink;
};

} // namespace

TEST_F(DeviceSide, WellFormedEventsArriveAndEverythingElseIsDropped)
{
    Send(LR"(--message "{\"eventId\":2,\"linkDeviceSeqId\":1,\"zone\":\"keys\"}")");
    for (const wchar_t* dropped : {L"--no-event-id", L"--malformed", L"--oversized 8192", L"--oversized 10000"})
        Send(dropped);
    Send(LR"(--message "{\"eventId\":7}")");
    // A client that leaves and comes back is served under the same name.
    Send(LR"(--message "{\"eventId\":2,\"linkDeviceSeqId\":3}" --connections 2)");

    ASSERT_TRUE(m_sink.WaitForCount(4, 5000));
    ::Sleep(200);
    const std::vector<std::string> expected = {
        R"({"device_handle":32769,"eventId":2,"linkDeviceSeqId":1,"zone":"keys"})",
        R"({"event":"onKaleoSdkLightingCallback","payload":{"device_handle":32769,"eventId":7}})",
        R"({"device_handle":32769,"eventId":2,"linkDeviceSeqId":3})",
        R"({"device_handle":32769,"eventId":2,"linkDeviceSeqId":3})",
    };
    EXPECT_EQ(expected, m_sink.Texts());
}

TEST_F(DeviceSide, PipeNameIsNeverAbsentWhileAnotherProcessReconnects)
{
    Send(LR"(--message "{\"eventId\":2}")");  // the reader has made its first instance
    volatile LONG stop = 0;
    LONG missing = 0;
    const std::wstring pipe = ProxyTest::PipeNameOf(kKeyboard);
    std::thread watcher([&] {
        while (!stop)
            if (!::WaitNamedPipeW(pipe.c_str(), 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND)
                ::InterlockedIncrement(&missing);
    });
    Send(LR"(--message "{\"eventId\":2}" --connections 40)");
    ::InterlockedExchange(&stop, 1);
    watcher.join();
    EXPECT_EQ(0, missing);
    EXPECT_TRUE(m_sink.WaitForCount(41, 5000));
}
