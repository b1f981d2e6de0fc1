#include "ProxyRig.h"

#include "DeviceSources.h"
#include "KaleoSDKNative.h"
#include "TestEnv.h"
#include "VxKaleoSDKNative.h"

namespace ProxyRobustness
{
namespace
{
constexpr DWORD kFirstKeyboard = 0x8000;
// Settling pause of the monitors plus a margin for a loaded machine.
constexpr DWORD kAppearMs = CDeviceManagerNative::SETTLE_MS + 4000;

bool PipeGone(const std::wstring& pipe)
{
    return pipe.empty() || (!::WaitNamedPipeW(pipe.c_str(), 1) && ::GetLastError() == ERROR_FILE_NOT_FOUND);
}
} // namespace

CDeviceManagerNative& Manager()
{
    return *CKaleoSDKNative::Instance()->DeviceManager();
}

void CProxyRig::SetUp()
{
    for (int i = 0; i < m_keyboards; ++i)
        m_registry.PublishKeyboard(kFirstKeyboard + i, L"{K" + std::to_wstring(i) + L"}");
    // A USB device too, so that both bus monitors run before any case.
    m_registry.PublishBus(DeviceSources::BUS_USB, L"VID_2F1A&PID_0090", L"5&9001&0&1");
    ASSERT_EQ(m_keyboards + 1, ProxyInit());
    for (int i = 0; i < m_keyboards; ++i)
    {
        m_attached.push_back(ProxyTest::AttachByContainer(0x84, "{K" + std::to_string(i) + "}"));
        ASSERT_EQ(static_cast<int>(kFirstKeyboard) + i, m_attached.back());
    }
    // What the first message, rescan and monitor pass create lazily is
    // there before a case counts handles: also what the runtime keeps per
    // reader thread once it has thrown (a dropped message) and the lighting
    // queue's timer.
    for (int handle : m_attached)
    {
        ProxyTest::CDeviceClient client(ProxyTest::PipeNameOf(handle));
        client.Send("not json");
        client.Send("{\"eventId\":2,\"linkDeviceSeqId\":1}");
        client.Close();
        ASSERT_TRUE(Served(handle));
    }
    ProxyInit();
    ASSERT_TRUE(Found());
    m_known = Manager().CopyRecords();
}

void CProxyRig::TearDown()
{
    ProxyUnInit();
}

unsigned CProxyRig::Lost() const
{
    const DeviceTable now = Manager().CopyRecords();
    unsigned lost = 0;
    for (const auto& known : m_known)
        lost += now.count(known.first) ? 0 : 1;
    for (int handle : m_attached)
        lost += PipeGone(ProxyTest::PipeNameOf(handle)) ? 1 : 0;
    return lost;
}

bool CProxyRig::Served(int handle)
{
    const std::string probe = "\"probe\":" + std::to_string(++m_probe) + "}";
    {
        ProxyTest::CDeviceClient client(ProxyTest::PipeNameOf(handle));
        if (!client.Send("{\"eventId\":7," + probe))
            return false;
    }
    return TestEnv::WaitFor(
        [&] {
            for (const std::string& text : m_sink.Texts())
                if (text.find(probe) != std::string::npos)
                    return true;
            return false;
        },
        5000);
}

DWORD CProxyRig::Publish()
{
    const DWORD serial = m_nextSerial++;
    m_registry.PublishKeyboard(serial, L"{F}");
    return serial;
}

bool CProxyRig::Found()
{
    const DWORD serial = Publish();
    return TestEnv::WaitFor([&] { return Manager().CopyRecords().count(serial) != 0; }, kAppearMs);
}

} // namespace ProxyRobustness
