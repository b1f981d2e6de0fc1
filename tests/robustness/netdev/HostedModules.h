#pragma once
// Both network device managers under the real service host, with a bridge
// and two IoT devices attached: the state every hostile case starts from
// and must leave behind. The handles counted are the host's.
#include <string>
#include <vector>

#include "Attack.h"
#include "NetDevFixture.h"

namespace NetDevRobustness
{

// One IoT list entry, as the commander writes it.
std::string IoTDevice(const std::string& mac, int pid);

class CHostedModules : public NetDevTest::CNetDevFixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A case against the host's process.
    Robustness::CAttack Attack(const char* channel, const std::string& name);
    // Ends the case, allowing what the platform keeps for each plug-in copy
    // the host loaded meanwhile.
    void Finish(Robustness::CAttack& attack) const;

    // Writes the IoT list of the valid state followed by `extra` entries.
    void WriteIoTList(const std::vector<std::string>& extra = {}) const;
    // How many copies of the valid state's devices are in InstallPath\bin.
    size_t Attached() const;
    // Loads `module`; false when it did not finish within the bound.
    bool Loaded(const wchar_t* module);
    // Delivers a service event to the host's modules.
    void HostEvent(int code);
    // Puts back the valid files, "Path" values and catalogue and loads both
    // modules: true when all three devices are attached again in time.
    bool Restore();

    size_t PluginLoads() const;
    DWORD MeasureLoadCost() const;

    TestEnv::CChildProcess m_host;
    DWORD m_loadCost = 0;
    size_t m_loadsAtStart = 0;
    std::string m_hueBytes;
    std::vector<std::wstring> m_validCopies;
};

} // namespace NetDevRobustness
