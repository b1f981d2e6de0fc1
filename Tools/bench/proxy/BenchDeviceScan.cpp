// BenchDeviceScan: what a start of the proxy's device manager costs per
// device, against a bare read of the same registry keys and values measured
// in the same run. The device manager reads the install folder, the
// catalogue and the identity of every device besides the registry; the
// ratio shows what that adds.
//
// Works against a temporary install (the SDK's registry root is saved first
// and put back exactly afterwards) holding N published HID devices.
//
//   BenchDeviceScan.exe [--rounds R]   (default 5; the fastest round counts)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DeviceManagerNative.h"
#include "DeviceSources.h"

using namespace BenchSupport;

namespace
{

const wchar_t kHardware[] = L"VID_2F1A&PID_0084&MI_00";
const char kCatalogue[] = "<?xml version=\"1.0\"?>\n<devices>\n"
                          "  <device pid=\"0x0084\" file=\"KaleoKeyboardPlugin.dll\"/>\n</devices>\n";

bool WriteCatalogue(const std::wstring& installPath)
{
    CHandle file(::CreateFileW((installPath + L"\\Devices.xml").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), kCatalogue, sizeof(kCatalogue) - 1, &written, nullptr);
}

bool PublishDevices(int count)
{
    const std::wstring hid = DeviceSources::HID_KEY;
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, hid.c_str(), 0, KALEO_ALL_ACCESS, key.Put()) == ERROR_SUCCESS)
    {
        ::RegDeleteTreeW(key.Get(), nullptr);
        key.Reset();
    }
    for (int i = 0; i < count; ++i)
    {
        wchar_t instance[32] = {};
        ::_snwprintf(instance, 31, L"7&%X&0&0000", 0x100000 + i);
        wchar_t container[48] = {};
        ::_snwprintf(container, 47, L"{%08X-0000-0000-0000-000000000000}", i);
        if (RegSetString(hid + L"\\" + kHardware + L"\\" + instance, DeviceSources::CONTAINER_ID_VALUE, container) !=
            ERROR_SUCCESS)
            return false;
    }
    return true;
}

// The registry work of a scan and nothing else: the same keys listed and
// the same values read, each key opened once relative to its parent.
int BareEnumeration()
{
    CRegKey bus;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, DeviceSources::HID_KEY, 0, KALEO_READ_ACCESS, bus.Put()) != ERROR_SUCCESS)
        return 0;
    int seen = 0;
    std::vector<std::wstring> hardware;
    EnumSubkeyNames(bus.Get(), hardware);
    for (const auto& id : hardware)
    {
        CRegKey hardwareKey;
        if (::RegOpenKeyExW(bus.Get(), id.c_str(), 0, KALEO_READ_ACCESS, hardwareKey.Put()) != ERROR_SUCCESS)
            continue;
        std::vector<std::wstring> instances;
        EnumSubkeyNames(hardwareKey.Get(), instances);
        for (const auto& instance : instances)
        {
            CRegKey instanceKey;
            std::wstring container;
            if (::RegOpenKeyExW(hardwareKey.Get(), instance.c_str(), 0, KALEO_QUERY_ACCESS, instanceKey.Put()) ==
                    ERROR_SUCCESS &&
                ReadStringValue(instanceKey.Get(), DeviceSources::CONTAINER_ID_VALUE, container) == ERROR_SUCCESS)
                ++seen;
        }
    }
    return seen;
}

struct CFigures
{
    double startMs = 1e30;
    double bareMs = 1e30;
};

bool Measure(int count, int rounds, CFigures& figures)
{
    for (int round = 0; round < rounds; ++round)
    {
        double start = NowMs();
        const int seen = BareEnumeration();
        figures.bareMs = std::min(figures.bareMs, NowMs() - start);

        CDeviceManagerNative manager;
        start = NowMs();
        const int added = manager.Start();
        figures.startMs = std::min(figures.startMs, NowMs() - start);
        manager.Stop();
        if (seen != count || added != count)
        {
            std::fprintf(stderr, "round %d: bare read saw %d, Start added %d, of %d\n", round, seen, added, count);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0)
        rounds = std::max(1, std::atoi(argv[2]));

    CRegistryRootBackup backup;
    CTempInstall install;
    if (RegSetString(KALEO_ROOT_KEY, KALEO_INSTALL_PATH_VALUE, install.Path()) != ERROR_SUCCESS ||
        !WriteCatalogue(install.Path()))
    {
        std::fprintf(stderr, "cannot prepare the install\n");
        return 1;
    }

    std::printf("CDeviceManagerNative::Start against a bare registry read of the same keys (fastest of %d rounds)\n",
                rounds);
    std::printf("%8s %12s %14s %12s %8s\n", "devices", "Start ms", "per device us", "bare ms", "ratio");
    double perDevice100 = 0;
    double perDevice1000 = 0;
    double ratio1000 = 0;
    for (int count : {10, 100, 1000})
    {
        CFigures figures;
        if (!PublishDevices(count) || !Measure(count, rounds, figures))
            return 1;
        const double perDevice = figures.startMs * 1000.0 / count;
        const double ratio = figures.startMs / figures.bareMs;
        std::printf("%8d %12.1f %14.1f %12.1f %7.2fx\n", count, figures.startMs, perDevice, figures.bareMs, ratio);
        if (count == 100)
            perDevice100 = perDevice;
        if (count == 1000)
        {
            perDevice1000 = perDevice;
            ratio1000 = ratio;
        }
    }
    std::printf("ratio at 1000 devices: %.2fx (target at most 2x)\n", ratio1000);
    std::printf("per-device cost 1000 vs 100: %.2fx (target about 1x)\n", perDevice1000 / perDevice100);
    return 0;
}
