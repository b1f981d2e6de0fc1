// Prepares a machine as the SDK's installer does: the install folder with
// "Logs" and "bin", "InstallPath", the Apps key and the plug-in catalogue,
// with the sample Hue and IoT plug-ins in bin.
#include <windows.h>
#include <shlobj.h>

#include "Commands.h"
#include "Console.h"
#include "Handles.h"
#include "PathText.h"
#include "Registry.h"

using namespace Common;

namespace
{
// Catalogue of the device plug-ins shipped in bin. The broadcast entry
// comes first: the proxy serves broadcast applications (pids 770 and 818)
// with the first entry, whatever its pid.
const char kCatalogue[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<devices>\r\n"
    "  <device pid=\"0x0302\" file=\"KaleoConnectPlugin.dll\" name=\"Broadcast applications\"/>\r\n"
    "  <device pid=\"0x0301\" file=\"KaleoHuePlugin.dll\" name=\"Philips Hue bridge\"/>\r\n"
    "  <device pid=\"0x0401\" file=\"KaleoIoTPlugin.dll\" name=\"IoT light\"/>\r\n"
    "  <device pid=\"0x0084\" file=\"KaleoKeyboardPlugin.dll\" name=\"HID keyboard\"/>\r\n"
    "  <device pid=\"0x0090\" file=\"KaleoMousePlugin.dll\" name=\"USB mouse\"/>\r\n"
    "</devices>\r\n";

std::wstring DefaultInstallPath()
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, 0, folder)))
        return L"C:\\Program Files (x86)\\Vexel\\Kaleo SDK";
    return std::wstring(folder) + L"\\Vexel\\Kaleo SDK";
}

bool MakeFolders(const std::wstring& path)
{
    const int rc = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS;
}

bool WriteCatalogue(const std::wstring& path)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return ::WriteFile(file.Get(), kCatalogue, sizeof(kCatalogue) - 1, &written, nullptr) &&
           written == sizeof(kCatalogue) - 1;
}

// The sample plug-ins built beside this tool serve the catalogue's Hue and
// IoT entries: the device managers copy them from bin for each device.
const wchar_t* const kSamplePlugins[] = {L"KaleoHuePlugin.dll", L"KaleoIoTPlugin.dll"};

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD chars = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (chars == 0 || chars >= MAX_PATH)
        return std::wstring();
    return Common::FolderPart(std::wstring(path, chars));
}

// The names of the plug-ins copied; those not built are left out.
std::wstring CopySamplePlugins(const std::wstring& bin)
{
    std::wstring copied;
    const std::wstring source = OwnFolder();
    for (const wchar_t* name : kSamplePlugins)
    {
        if (!source.empty() &&
            ::CopyFileW((source + L"\\" + name).c_str(), (bin + L"\\" + name).c_str(), FALSE))
            copied += (copied.empty() ? L"" : L", ") + std::wstring(name);
    }
    return copied.empty() ? L"(none built beside kaleoctl)" : copied;
}

bool EnsureKey(const wchar_t* path)
{
    CRegKey key;
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KALEO_ALL_ACCESS, nullptr, key.Put(),
                             nullptr) == ERROR_SUCCESS;
}
} // namespace

int CmdInstall(const CArgs& argsIn)
{
    CArgs args = argsIn;
    std::wstring path;
    if (!TakeOption(args, L"--path", path))
        path = DefaultInstallPath();
    while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
        path.pop_back();
    if (path.empty() || path.size() > 200)
    {
        Console::Err(L"install: the install folder must be 1 to 200 characters\n");
        return 2;
    }

    if (!MakeFolders(path + L"\\Logs") || !MakeFolders(path + L"\\bin"))
    {
        Console::Error(L"install: cannot create folders under %s (%lu)\n", path.c_str(), ::GetLastError());
        return 1;
    }
    const std::wstring catalogue = path + L"\\Devices.xml";
    if (!WriteCatalogue(catalogue))
    {
        Console::Error(L"install: cannot write %s (%lu)\n", catalogue.c_str(), ::GetLastError());
        return 1;
    }
    const std::wstring plugins = CopySamplePlugins(path + L"\\bin");
    const DWORD rc = RegSetString(KALEO_ROOT_KEY, L"InstallPath", path);
    if (rc != ERROR_SUCCESS || !EnsureKey(KALEO_APPS_KEY))
    {
        Console::Error(L"install: cannot write the registry (%lu)\n", rc);
        return 1;
    }
    // The SDK ships with the lighting enabled; a user's later choice stays.
    DWORD enable = 0;
    if (RegGetDword(KALEO_APPS_KEY, L"Enable", enable) != ERROR_SUCCESS)
    {
        CRegKey apps;
        enable = 1;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_APPS_KEY, 0, KALEO_ALL_ACCESS, apps.Put()) == ERROR_SUCCESS)
            ::RegSetValueExW(apps.Get(), L"Enable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                             sizeof(enable));
    }
    Console::Print(L"installed: %s\n", path.c_str());
    Console::Print(L"  InstallPath = %s\n", path.c_str());
    Console::Print(L"  folders     = Logs, bin\n");
    Console::Print(L"  catalogue   = %s\n", catalogue.c_str());
    Console::Print(L"  plug-ins    = %s\n", plugins.c_str());
    Console::Print(L"  apps key    = HKLM\\%s (Enable = %lu)\n", KALEO_APPS_KEY, enable);
    return 0;
}

int CmdUninstall(const CArgs&)
{
    CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, 0, KALEO_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
    {
        Console::Print(L"uninstall: nothing to remove\n");
        return 0;
    }
    ::RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();
    const LSTATUS rc = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, KEY_WOW64_32KEY, 0);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"uninstall: cannot remove HKLM\\%s (%ld)\n", KALEO_ROOT_KEY, rc);
        return 1;
    }
    Console::Print(L"uninstall: removed HKLM\\%s\n", KALEO_ROOT_KEY);
    return 0;
}
