#pragma once
// The proxy in process with keyboards published, found and attached, the
// host's callback collecting events: the state every hostile case starts
// from and must leave behind.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DeviceManagerNative.h"
#include "DeviceRegistryFixture.h"
#include "ProxySession.h"

namespace ProxyRobustness
{

class CProxyRig : public ::testing::Test
{
protected:
    explicit CProxyRig(int keyboards) : m_keyboards(keyboards) {}
    void SetUp() override;
    void TearDown() override;

    // Records of the valid state gone from the table, and attached devices
    // whose data pipe is no longer served.
    unsigned Lost() const;
    // A valid message written into the device's pipe reaches the host in time.
    bool Served(int handle);
    // Publishes a keyboard not seen before; its key.
    DWORD Publish();
    // A keyboard published now is added by the registry monitor in time.
    bool Found();
    const DeviceTable& Known() const { return m_known; }

    ProxyTest::CDeviceRegistry m_registry;
    ProxyTest::CBroadcastPresence m_broadcast;
    ProxyTest::CEventSink m_sink;
    std::vector<int> m_attached;

private:
    int m_keyboards;
    DeviceTable m_known;
    DWORD m_nextSerial = 0xC000;
    int m_probe = 0;
};

// The device manager of the running proxy.
CDeviceManagerNative& Manager();

} // namespace ProxyRobustness
