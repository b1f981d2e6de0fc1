// What a device side may write into the data pipes of attached devices:
// messages at and past the buffer's size, text that is not UTF-8 or JSON
// nested past any reasonable depth, and clients that come and go in
// numbers. Every device stays attached, and valid messages still reach
// the host.
#include "ProxyRig.h"

#include <functional>
#include <thread>

#include "Attack.h"

namespace ProxyRobustness
{
namespace
{

constexpr int kDevices = 20;

// {"eventId":7,"pad":"..."} of exactly `bytes` bytes.
std::string Padded(size_t bytes)
{
    const std::string head = "{\"eventId\":7,\"pad\":\"";
    return head + std::string(bytes - head.size() - 2, 'x') + "\"}";
}

class DataPipes : public CProxyRig
{
protected:
    DataPipes() : CProxyRig(kDevices) {}

    bool SendTo(int handle, const std::string& message) const
    {
        return ProxyTest::CDeviceClient(ProxyTest::PipeNameOf(handle)).Send(message);
    }

    // 100 clients over the devices from 10 threads: each connects, writes
    // a few messages (or none) and leaves.
    void Churn() const
    {
        std::vector<std::thread> threads;
        for (int t = 0; t < 10; ++t)
            threads.emplace_back([this, t] {
                for (int round = 0; round < 10; ++round)
                {
                    ProxyTest::CDeviceClient client(ProxyTest::PipeNameOf(m_attached[(t * 7 + round) % kDevices]), 2000);
                    for (int n = 0; n < round % 4 && client.IsConnected(); ++n)
                        client.Send("{\"eventId\":2,\"linkDeviceSeqId\":" + std::to_string(n) + "}");
                }
            });
        for (std::thread& thread : threads)
            thread.join();
    }
};

TEST_F(DataPipes, HostileWritersLeaveEveryDeviceAttachedAndServed)
{
    const std::string invalidUtf8 = "{\"eventId\":7,\"x\":\"\xC3\x28\xFF\xFE\xED\xA0\x80\"}";
    const std::string deep = "{\"eventId\":7,\"x\":" + std::string(10000, '[') + std::string(10000, ']') + "}";
    struct
    {
        const char* name;
        std::function<bool()> attack;
        bool all; // every device is attacked, so every device must be served
    } const cases[] = {
        {"message of 8,191 bytes", [&] { return SendTo(m_attached[0], Padded(8191)); }, false},
        {"message of 8,192 bytes", [&] { return SendTo(m_attached[0], Padded(8192)); }, false},
        {"message of 10,000 bytes", [&] { return SendTo(m_attached[0], Padded(10000)); }, false},
        {"invalid UTF-8", [&] { return SendTo(m_attached[0], invalidUtf8); }, false},
        {"JSON nested 10,000 levels", [&] { return SendTo(m_attached[0], deep); }, false},
        {"100 clients churning", [&] { Churn(); return true; }, true},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Robustness::CAttack attack("data pipes", c.name);
        EXPECT_TRUE(c.attack());
        for (int i = 0; i < (c.all ? kDevices : 1); ++i)
            if (!Served(m_attached[i]))
                attack.Hang();
        attack.Lost(Lost());
        m_sink.Clear();
        attack.Finish();
    }
}

} // namespace
} // namespace ProxyRobustness
