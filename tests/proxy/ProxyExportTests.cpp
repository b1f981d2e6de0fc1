// Init and UnInit through the DLL as the host loads it: counts, repeated
// calls, and no thread of the library left after UnInit.
#include <gtest/gtest.h>

#include <objbase.h>
#include <cstdlib>
#include <string>
#include <thread>

#include "DeviceRegistryFixture.h"
#include "Handles.h"
#include "ProxySession.h"

using ProxyTest::CDeviceRegistry;

namespace
{

class ProxyDll
{
public:
    ProxyDll() : m_module(::LoadLibraryW((TestEnv::BinDir() + L"\\VxKaleoSDKProxy64.dll").c_str()))
    {
        EXPECT_TRUE(m_module.IsValid());
        m_init = Export<Fn>("Init");
        m_uninit = Export<Fn>("UnInit");
        EXPECT_TRUE(m_init && m_uninit);
    }
    int Init() const { return m_init(); }
    int UnInit() const { return m_uninit(); }
    // Any export, as the host declares it.
    template <typename T>
    T Export(const char* name) const
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name)));
    }
    // Hands the library over to a caller that frees it.
    HMODULE Release() { return m_module.Release(); }

private:
    using Fn = int (*)();
    Common::CModule m_module;
    Fn m_init = nullptr;
    Fn m_uninit = nullptr;
};

using ProxyTest::CHeldCallback;

// Attaches the published keyboard through the DLL's Invoke; its data pipe.
std::wstring AttachKeyboard(const ProxyDll& dll, DWORD serial)
{
    using InvokeFn = DWORD (*)(const wchar_t*, wchar_t**);
    wchar_t* response = nullptr;
    const std::wstring request = L"{\"func\":\"AddDevice\",\"param\":{\"pid\":132,\"containerId\":\"{K1}\"}}";
    EXPECT_EQ(0u, dll.Export<InvokeFn>("Invoke")(request.c_str(), &response));
    EXPECT_NE(std::wstring::npos, std::wstring(response ? response : L"").find(L"\"SUCCESS\""));
    ::CoTaskMemFree(response);
    std::wstring pipe = CDeviceRegistry::KeyboardPath(serial);
    pipe.replace(0, 4, L"\\\\.\\pipe\\");
    return pipe;
}

} // namespace

TEST(ProxyExports, InitCountsDevicesAndUnInitEndsEverything)
{
    CDeviceRegistry registry;
    const size_t threadsBefore = ProxyTest::ThreadCount();
    ProxyDll dll;
    EXPECT_EQ(ERROR_FUNCTION_FAILED, dll.UnInit()); // not initialised

    registry.PublishKeyboard(0x8001);
    registry.PublishKeyboard(0x8002);
    registry.SetHue(L"bridge", L"4");
    EXPECT_EQ(3, dll.Init());
    const size_t running = ProxyTest::ThreadCount();

    // A second Init keeps the instance and its monitors; nothing new: -1.
    EXPECT_EQ(-1, dll.Init());
    EXPECT_EQ(running, ProxyTest::ThreadCount());

    EXPECT_EQ(3, dll.UnInit());
    EXPECT_EQ(ERROR_FUNCTION_FAILED, dll.UnInit());
    EXPECT_TRUE(ProxyTest::WaitForThreadCount(threadsBefore, 2000));

    // A new run after UnInit finds the devices again.
    EXPECT_EQ(3, dll.Init());
    EXPECT_EQ(3, dll.UnInit());
}

TEST(ProxyExports, InitWithoutDevicesAnswersMinusOne)
{
    CDeviceRegistry registry;
    ProxyDll dll;
    EXPECT_EQ(-1, dll.Init());
    EXPECT_EQ(0, dll.UnInit());
}

TEST(ProxyExports, BooleansAreWhole32BitValues)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(0x8001, L"{K1}");
    CHeldCallback::Release();
    ProxyDll dll;
    // Declared as the host declares them: BOOL in, BOOL out, all 32 bits read.
    EXPECT_EQ(TRUE, dll.Export<BOOL (*)(void*)>("SetAllocator")(nullptr));
    EXPECT_EQ(TRUE, dll.Export<BOOL (*)(void (*)(const char*))>("SetNodeFFIEvent")(&CHeldCallback::Callback));
    const auto usePolling = dll.Export<void (*)(BOOL)>("UsePollingMode");
    const auto poll = dll.Export<char* (*)()>("PollEvents");
    const auto freeMalloc = dll.Export<void (*)(void*)>("FreeMalloc");
    ASSERT_EQ(1, dll.Init());
    ProxyTest::CDeviceClient client(AttachKeyboard(dll, 0x8001));
    ASSERT_TRUE(client.IsConnected());
    // 0x100 is true, though its low byte is 0.
    const struct
    {
        BOOL value;
        bool polled;
    } cases[] = {{0x100, true}, {FALSE, false}, {-1, true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.value);
        const LONG pushed = CHeldCallback::Calls();
        usePolling(c.value);
        ASSERT_TRUE(client.Send(R"({"eventId":2})"));
        std::string polled = "[]";
        EXPECT_TRUE(TestEnv::WaitFor(
            [&] {
                char* text = poll();
                polled = text ? text : "";
                freeMalloc(text);
                return polled != "[]" || CHeldCallback::Calls() > pushed;
            },
            5000));
        EXPECT_EQ(c.polled, polled != "[]") << polled;
    }
    usePolling(FALSE);
    EXPECT_EQ(1, dll.UnInit());
    dll.Export<BOOL (*)(void (*)(const char*))>("SetNodeFFIEvent")(nullptr);
}

TEST(ProxyExports, UnloadDuringABatchTickWaitsForNothing)
{
    CDeviceRegistry registry;
    registry.PublishKeyboard(0x8001, L"{K1}");
    ProxyDll dll;
    dll.Export<BOOL (*)(void (*)(const char*))>("SetNodeFFIEvent")(&CHeldCallback::Callback);
    dll.Export<void (*)(DWORD)>("SetOperatingMode")(2);
    ASSERT_EQ(1, dll.Init());
    CHeldCallback::Hold();
    ProxyTest::CDeviceClient(AttachKeyboard(dll, 0x8001)).Send(R"({"eventId":2})");
    // A batch is in flight, held in the host's callback, when the host
    // unloads the library.
    ASSERT_TRUE(CHeldCallback::WaitEntered(5000));
    EXPECT_EQ(1, dll.UnInit());
    HMODULE module = dll.Release();
    Common::CHandle unloaded(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread host([&] {
        ::FreeLibrary(module);
        ::SetEvent(unloaded.Get());
    });
    const DWORD returned = ::WaitForSingleObject(unloaded.Get(), 5000);
    CHeldCallback::Release();
    host.join();
    EXPECT_EQ(WAIT_OBJECT_0, returned);
}

