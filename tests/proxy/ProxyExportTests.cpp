// Init and UnInit through the DLL as the host loads it: counts, repeated
// calls, and no thread of the library left after UnInit.
#include <gtest/gtest.h>

#include "DeviceRegistryFixture.h"
#include "Handles.h"

using ProxyTest::CDeviceRegistry;

namespace
{

class ProxyDll
{
public:
    ProxyDll() : m_module(::LoadLibraryW((TestEnv::BinDir() + L"\\VxKaleoSDKProxy64.dll").c_str()))
    {
        EXPECT_TRUE(m_module.IsValid());
        m_init = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), "Init")));
        m_uninit = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), "UnInit")));
        EXPECT_TRUE(m_init && m_uninit);
    }
    int Init() const { return m_init(); }
    int UnInit() const { return m_uninit(); }

private:
    using Fn = int (*)();
    Common::CModule m_module;
    Fn m_init = nullptr;
    Fn m_uninit = nullptr;
};

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
