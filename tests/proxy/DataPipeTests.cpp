// The reader of each attached device's data pipe, with this process as the
// device side: what reaches the host, what is dropped, how clients come
// and go, and how promptly a detach ends the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "DataPipeConnect.h"
#include "DeviceRegistryFixture.h"
#include "DeviceSources.h"
#include "EventDelivery.h"
#include "KaleoSDKNative.h"
#include "PipeIo.h"
#include "ProxySession.h"
#include "TestEnv.h"
#include "VxKaleoSDKNative.h"

using ProxyTest::CDeviceClient;
using ProxyTest::CDeviceRegistry;
using ProxyTest::CEventSink;

namespace
{

constexpr int kKeyboard = 0x8001;

bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

class DataPipe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_registry.PublishKeyboard(kKeyboard, L"{K1}");
        ASSERT_EQ(1, ProxyInit());
        ASSERT_EQ(kKeyboard, ProxyTest::AttachByContainer(0x84, "{K1}"));
        m_pipe = ProxyTest::PipeNameOf(kKeyboard);
        ASSERT_FALSE(m_pipe.empty());
    }
    void TearDown() override { ProxyUnInit(); }

    CDeviceRegistry m_registry;
    CEventSink m_sink;
    std::wstring m_pipe;
};

} // namespace

TEST_F(DataPipe, MessagesReachTheHostStampedAndOnlyWhenWellFormed)
{
    CDeviceClient client(m_pipe);
    ASSERT_TRUE(client.IsConnected());
    const std::string sent[] = {
        R"({"eventId":2,"linkDeviceSeqId":1,"zone":"keys"})",
        R"({"zone":"no event id"})",
        "not json",
        R"([{"eventId":2}])",
        std::string(8192, ' '),
        std::string(10000, ' '),
        std::string(R"({"eventId":7,"device_handle":"forged"})") + '\0' + "trailing bytes",
        // 256 levels in all pass, one more is dropped before parsing.
        R"({"eventId":8,"x":)" + std::string(255, '[') + std::string(255, ']') + "}",
        R"({"eventId":9,"x":)" + std::string(256, '[') + std::string(256, ']') + "}",
        R"({"eventId":2.0,"linkDeviceSeqId":2})",
    };
    for (const std::string& message : sent)
        ASSERT_TRUE(client.Send(message));

    ASSERT_TRUE(m_sink.WaitForCount(4, 5000));
    ::Sleep(200);
    const std::vector<std::string> expected = {
        R"({"device_handle":32769,"eventId":2,"linkDeviceSeqId":1,"zone":"keys"})",
        R"({"event":"onKaleoSdkLightingCallback","payload":{"device_handle":32769,"eventId":7}})",
        R"({"event":"onKaleoSdkLightingCallback","payload":{"device_handle":32769,"eventId":8,"x":)" +
            std::string(255, '[') + std::string(255, ']') + "}}",
        R"({"device_handle":32769,"eventId":2.0,"linkDeviceSeqId":2})",
    };
    EXPECT_EQ(expected, m_sink.Texts());
}

TEST_F(DataPipe, NextClientIsServedUnderTheSameName)
{
    for (int client = 0; client < 3; ++client)
    {
        CDeviceClient device(m_pipe);
        ASSERT_TRUE(device.IsConnected()) << client;
        ASSERT_TRUE(device.Send(R"({"eventId":2,"n":)" + std::to_string(client) + "}"));
        ASSERT_TRUE(m_sink.WaitForCount(static_cast<size_t>(client) + 1, 5000)) << client;
    }
}

TEST_F(DataPipe, SwitchedOffDeviceDropsItsMessages)
{
    const auto state = [](const nlohmann::json& param) {
        return ProxyTest::Invoke(nlohmann::json{{"func", "SetDeviceState"}, {"param", param}}.dump()).code;
    };
    CDeviceClient client(m_pipe);
    ASSERT_EQ(0u, state({{"enable", 0}, {"device_handle", kKeyboard}}));
    client.Send(R"({"eventId":2,"n":1})");
    ASSERT_EQ(0u, state({{"enable", 1}, {"device_handle", kKeyboard}}));
    ::Sleep(300);
    ASSERT_EQ(0u, state({{"enable", 0}}));
    client.Send(R"({"eventId":2,"n":2})");
    ::Sleep(300);
    ASSERT_EQ(0u, state({{"enable", 1}}));
    client.Send(R"({"eventId":2,"n":3})");
    ASSERT_TRUE(m_sink.WaitForCount(1, 5000));
    ::Sleep(200);
    EXPECT_EQ(std::vector<std::string>{R"({"device_handle":32769,"eventId":2,"n":3})"}, m_sink.Texts());
}

TEST_F(DataPipe, DetachEndsAnIdleReaderAtOnceWithOrWithoutClient)
{
    // Without a client the reader waits in its connect; with a silent one,
    // in a read. A detach ends either wait at once.
    for (bool withClient : {true, false})
    {
        if (!withClient)
        {
            ASSERT_EQ(kKeyboard, ProxyTest::AttachByContainer(0x84, "{K1}"));
        }
        std::unique_ptr<CDeviceClient> client;
        if (withClient)
        {
            client = std::make_unique<CDeviceClient>(m_pipe);
            ASSERT_TRUE(client->IsConnected());
            ::Sleep(100);
        }
        const size_t threads = ProxyTest::ThreadCount();
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(0u, ProxyRemoveDevice(kKeyboard));
        EXPECT_LT(::GetTickCount64() - start, 1000u) << withClient;
        EXPECT_TRUE(ProxyTest::WaitForThreadCount(threads - 1, 1000)) << withClient;
    }
    const std::vector<std::string> log = ProxyTest::DebugLogLines(m_registry.InstallPath(), kKeyboard);
    EXPECT_TRUE(Contains(log, "CKaleoSDKNative::RunMonitorData | Shutdown Event on Read"));
    EXPECT_TRUE(Contains(log, "CKaleoSDKNative::RunMonitorData | Shutdown Event on Pending"));
}

TEST(DataPipeDebug, DumpIsCutIntoLinesOf200)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(kKeyboard, L"{K1}");
    const DWORD on = 1;
    CDeviceRegistry::WriteValue(DeviceSources::DEVICES_KEY, DeviceSources::DEBUG_PROXY_VALUE, REG_DWORD, &on,
                                sizeof(on));
    ASSERT_EQ(1, ProxyInit());
    ASSERT_EQ(kKeyboard, ProxyTest::AttachByContainer(0x84, "{K1}"));
    // Serialised with its handle, the message is 450 characters long.
    const std::string head = R"({"device_handle":32769,"pad":")";
    const std::string pad(450 - head.size() - 2, 'x');
    {
        CDeviceClient client(ProxyTest::PipeNameOf(kKeyboard));
        client.Send(R"({"pad":")" + pad + "\"}");
    }
    std::vector<size_t> widths;
    ASSERT_TRUE(TestEnv::WaitFor(
        [&] {
            widths.clear();
            for (const std::string& line : ProxyTest::DebugLogLines(registry.InstallPath(), kKeyboard))
            {
                const size_t at = line.find("CKaleoSDKNative::ProcessData | ");
                if (at != std::string::npos)
                    widths.push_back(line.size() - at - 31);
            }
            return widths.size() == 3;
        },
        5000));
    EXPECT_EQ((std::vector<size_t>{200, 200, 50}), widths);
    ProxyUnInit();
}

TEST(DataPipeLoad, UnInitUnderLoadLeavesNoThreadOrHandle)
{
    CDeviceRegistry registry;
    constexpr int kDevices = 20;
    for (int i = 0; i < kDevices; ++i)
        registry.PublishKeyboard(0x9000 + i, L"{L" + std::to_wstring(i) + L"}");
    CEventSink sink;
    // Warm up: the lazily made objects of the log writer and the pool exist.
    ProxyInit();
    ASSERT_EQ(0x9000, ProxyTest::AttachByContainer(0x84, "{L0}"));
    {
        // A message cut short by the stops below is dropped through the
        // parser's exception; the runtime keeps a handle from the process's
        // first one, so that one is thrown here.
        CDeviceClient device(ProxyTest::PipeNameOf(0x9000));
        device.Send("not json");
        device.Send(R"({"eventId":2})");
    }
    ASSERT_TRUE(sink.WaitForCount(1, 5000));
    ProxyUnInit();
    std::thread([] {}).join();  // the thread library keeps a handle from its first thread
    const size_t threads = ProxyTest::ThreadCount();
    const DWORD handles = TestEnv::OwnHandleCount();

    for (DWORD mode : {0u, 1u, 2u})
    {
        VxKaleoSDKProxy::SetOperatingMode(mode);
        ASSERT_EQ(kDevices, ProxyInit());
        std::vector<std::wstring> pipes;
        for (int i = 0; i < kDevices; ++i)
        {
            ASSERT_EQ(0x9000 + i, ProxyTest::AttachByContainer(0x84, "{L" + std::to_string(i) + "}"));
            pipes.push_back(ProxyTest::PipeNameOf(0x9000 + i));
        }
        volatile LONG stop = 0;
        std::vector<std::thread> clients;
        for (int c = 0; c < 4; ++c)
            clients.emplace_back([&, c] {
                for (int round = 0; !stop; ++round)
                {
                    CDeviceClient device(pipes[(c * 5 + round) % kDevices], 200);
                    for (int n = 0; n < 20 && device.IsConnected(); ++n)
                        device.Send(R"({"eventId":2,"linkDeviceSeqId":)" + std::to_string(n) + "}");
                }
            });
        ::Sleep(1000);
        // Clients that leave before their connect was accepted must not
        // end a reader: every device is still served.
        for (const std::wstring& pipe : pipes)
            EXPECT_FALSE(!::WaitNamedPipeW(pipe.c_str(), 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND)
                << TestEnv::Narrow(pipe);
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(kDevices, ProxyUnInit()) << "mode " << mode;
        EXPECT_LT(::GetTickCount64() - start, 3000u) << "mode " << mode;
        ::InterlockedExchange(&stop, 1);
        for (std::thread& client : clients)
            client.join();
    }
    VxKaleoSDKProxy::SetOperatingMode(0);
    ::free(VxKaleoSDKProxy::PollEvents());

    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threads, 3000));
    EXPECT_TRUE(TestEnv::WaitFor([&] { return TestEnv::OwnHandleCount() <= handles; }, 5000))
        << handles << " handles before, " << TestEnv::OwnHandleCount() << " after";
}

TEST(DataPipeConnect, ConnectCallThatFailsAtOnceIsLoggedAndItsClientStillRead)
{
    CDeviceRegistry registry;
    const std::wstring name = L"\\\\.\\pipe\\KaleoConnectTest" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring logName = L"Debug_77.log";
    const std::string line = "CKaleoSDKNative::RunMonitorData | ConnectNamedPipe failed  = 232";
    Common::CHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // A client that connects, writes and leaves before the server's connect
    // call; then one that comes while the server waits.
    for (bool early : {true, false})
    {
        Common::CHandle server(::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 8192,
                                                  8192, 0, nullptr));
        ASSERT_TRUE(server.IsValid());
        std::thread client;
        const auto write = [&] { CDeviceClient(name).Send(R"({"eventId":2})"); };
        if (early)
            write();
        else
            client = std::thread(write);
        const DWORD rc = ConnectDataPipeClient(server.Get(), stop.Get(), logName.c_str());
        EXPECT_EQ(early ? static_cast<DWORD>(ERROR_NO_DATA) : 0u, rc) << early;
        char buffer[64] = {};
        DWORD bytes = 0;
        EXPECT_EQ(0u, Common::ReadPipeMessage(server.Get(), buffer, sizeof(buffer), bytes, 5000, stop.Get()));
        EXPECT_EQ(R"({"eventId":2})", std::string(buffer, bytes)) << early;
        if (client.joinable())
            client.join();
        const std::vector<std::string> log = ProxyTest::DebugLogLines(registry.InstallPath(), 77);
        EXPECT_EQ(1u, static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& text) {
                      return text.find(line) != std::string::npos;
                  })))
            << early;  // the early client's call, and no line for the waiting one
    }
}

TEST(DataPipeHost, ReaderHeldInTheCallbackHoldsUpNeitherDetachNorUnInit)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(kKeyboard, L"{K1}");
    // Counted once event delivery has its timer and pool.
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
    // The host's callback waits for the host's own thread, which is busy
    // detaching: the reader is held inside it until released.
    ProxyTest::CHeldCallback::Hold();
    VxKaleoSDKProxy::SetEventCallback(&ProxyTest::CHeldCallback::Callback);
    const size_t threads = ProxyTest::ThreadCount();
    ASSERT_EQ(1, ProxyInit());
    ASSERT_EQ(kKeyboard, ProxyTest::AttachByContainer(0x84, "{K1}"));
    const std::wstring pipe = ProxyTest::PipeNameOf(kKeyboard);
    CDeviceClient client(pipe);
    ASSERT_TRUE(client.Send(R"({"eventId":2,"n":1})"));
    ASSERT_TRUE(ProxyTest::CHeldCallback::WaitEntered(5000));

    // The detach gives up on the reader after its wait; UnInit does not
    // wait for it at all.
    Common::CHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread host([&] {
        EXPECT_EQ(0u, ProxyRemoveDevice(kKeyboard));
        EXPECT_EQ(1, ProxyUnInit());
        ::SetEvent(done.Get());
    });
    const DWORD returned = ::WaitForSingleObject(done.Get(), CKaleoSDKNative::READER_STOP_WAIT_MS + 7000);
    ASSERT_TRUE(client.Send(R"({"eventId":2,"n":2})"));
    ProxyTest::CHeldCallback::Release();
    host.join();
    EXPECT_EQ(WAIT_OBJECT_0, returned);

    // Released, the reader ends by itself with what it owns: no further
    // message, no thread, and its pipe instance is gone.
    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threads, 5000)) << threads << " " << ProxyTest::ThreadCount();
    EXPECT_TRUE(TestEnv::WaitFor(
        [&] { return !::WaitNamedPipeW(pipe.c_str(), 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND; }, 5000));
    EXPECT_EQ(1, ProxyTest::CHeldCallback::Calls());
    VxKaleoSDKProxy::SetEventCallback(nullptr);
}
