#include "HostedModules.h"

#include "IoTDeviceList.h"
#include "NetDeviceNames.h"
#include "Registry.h"
#include "Scramble.h"

namespace NetDevRobustness
{
namespace
{
const char kCatalogue[] = "<device pid=\"0x0301\" file=\"KaleoHuePlugin.dll\"/>"
                          "<device pid=\"0x0401\" file=\"KaleoIoTPlugin.dll\"/>"
                          "<device pid=\"0x0402\" file=\"KaleoNoInitPlugin.dll\"/>"
                          "<device pid=\"0x0403\" file=\"Absent.dll\"/>"
                          "<device pid=\"0x0404\" file=\"KaleoNoUnInitPlugin.dll\"/>"
                          "<device pid=\"0x0405\" file=\"..\\KaleoIoTPlugin.dll\"/>";
const wchar_t kHostName[] = L"NetDevRobustness";
} // namespace

std::string IoTDevice(const std::string& mac, int pid)
{
    return "{\"pid\":" + std::to_string(pid) + ",\"mac_address\":\"" + mac + "\",\"ip_address\":\"10.0.0.1\"}";
}

void CHostedModules::SetUp()
{
    CNetDevFixture::SetUp();
    m_logName = L"VxSvcHost.exe.log";
    m_loadCost = MeasureLoadCost();
    WriteCatalogue(kCatalogue);
    Ctl(L"netdev hue --file \"" + HueConfig() + L"\" --id 001788fffe123abc --name B --ip 1.2.3.4 --group 1=a --selected 1");
    const std::vector<BYTE> hue = TestEnv::ReadFileBytes(HueConfig());
    m_hueBytes.assign(hue.begin(), hue.end());
    WriteIoTList();
    ASSERT_EQ(0u, Common::RegSetString(NetDevice::IOT_SETTINGS_KEY, NetDevice::PATH_VALUE, IoTList()));

    const std::wstring bin = TestEnv::BinDir() + L"\\";
    ASSERT_TRUE(m_host.Start(bin + L"VxSvcHost.exe", std::wstring(L"--name ") + kHostName + L" \"" + bin +
                                                         L"VxSmartlightingDeviceManager.dll\" \"" + bin +
                                                         L"VxIoTDeviceManager.dll\""));
    Ctl(std::wstring(L"host wait --name ") + kHostName + L" --timeout 30000");
    ASSERT_TRUE(Loaded(L"hue") && Loaded(L"iot"));
    m_validCopies = Copies();
    ASSERT_EQ(3u, m_validCopies.size());
    // One detach and attach of each, and one file each worker cannot parse
    // (the runtime keeps what a thread's first exception needs), so that
    // what the first ones create lazily in the host is there before any
    // case counts.
    ASSERT_TRUE(Command(L"hue", L"Reset", L"CSmartlightingDeviceManager::ClearDevices | END"));
    ASSERT_TRUE(Command(L"iot", L"Reset", L"CIoTDeviceManager::ClearDevices | END"));
    const std::string junk = "{";
    TestEnv::WriteFileBytes(HueConfig(), junk.data(), junk.size());
    const std::string junkList = NetDevice::MakeLengthPrefixedScrambledFile(junk, IoTList::CONFIG_KEY);
    TestEnv::WriteFileBytes(IoTList(), junkList.data(), junkList.size());
    ASSERT_TRUE(Loaded(L"hue") && Loaded(L"iot"));
    ASSERT_TRUE(Restore());
}

void CHostedModules::TearDown()
{
    if (m_host.Pid())
    {
        Ctl(std::wstring(L"host stop --name ") + kHostName);
        EXPECT_EQ(0u, m_host.Wait(30000));
    }
    CNetDevFixture::TearDown();
}

// Plug-in copies the host loaded: each Init call, and each copy refused
// for lacking Init.
size_t CHostedModules::PluginLoads() const
{
    size_t inits = 0;
    for (const auto& line : Journal())
        inits += line.call == "Init" ? 1 : 0;
    return inits + CountInLog(L"::AddDevice | END | Result = 15841");
}

Robustness::CAttack CHostedModules::Attack(const char* channel, const std::string& name)
{
    m_loadsAtStart = PluginLoads();
    return Robustness::CAttack(channel, name, m_host.Pid());
}

void CHostedModules::Finish(Robustness::CAttack& attack) const
{
    attack.Allow(static_cast<unsigned>((PluginLoads() - m_loadsAtStart) * m_loadCost));
    attack.Finish();
}

// Handles this platform keeps for one library loaded and freed, measured
// here with a plug-in copy: the host has the same loader.
DWORD CHostedModules::MeasureLoadCost() const
{
    const std::wstring copy = m_dir / L"probe.mod";
    ::CopyFileW((TestEnv::BinDir() + L"\\KaleoIoTPlugin.dll").c_str(), copy.c_str(), FALSE);
    const DWORD before = TestEnv::OwnHandleCount();
    {
        const Common::CModule module(::LoadLibraryW(copy.c_str()));
    }
    const DWORD after = TestEnv::OwnHandleCount();
    ::DeleteFileW(copy.c_str());
    return after > before ? after - before : 0;
}

void CHostedModules::WriteIoTList(const std::vector<std::string>& extra) const
{
    std::string list = "[" + IoTDevice("aa:bb:cc:dd:ee:01", 0x0401) + "," + IoTDevice("aa:bb:cc:dd:ee:02", 0x0401);
    for (const std::string& entry : extra)
        list += "," + entry;
    const std::string bytes = NetDevice::MakeLengthPrefixedScrambledFile(list + "]", IoTList::CONFIG_KEY);
    TestEnv::WriteFileBytes(IoTList(), bytes.data(), bytes.size());
}

size_t CHostedModules::Attached() const
{
    size_t count = 0;
    for (const std::wstring& copy : m_validCopies)
        count += TestEnv::FileExists(Bin() + L"\\" + copy) ? 1 : 0;
    return count;
}

bool CHostedModules::Loaded(const wchar_t* module)
{
    return static_cast<bool>(Load(module));
}

void CHostedModules::HostEvent(int code)
{
    Ctl(L"host event " + std::to_wstring(code) + L" --name " + kHostName);
}

bool CHostedModules::Restore()
{
    TestEnv::WriteFileBytes(HueConfig(), m_hueBytes.data(), m_hueBytes.size());
    WriteIoTList();
    WriteCatalogue(kCatalogue);
    Common::RegSetString(NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::PATH_VALUE, HueConfig());
    Common::RegSetString(NetDevice::IOT_SETTINGS_KEY, NetDevice::PATH_VALUE, IoTList());
    return Loaded(L"hue") && Loaded(L"iot") && Attached() == m_validCopies.size();
}

} // namespace NetDevRobustness
