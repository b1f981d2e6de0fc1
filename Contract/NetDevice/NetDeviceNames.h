#pragma once
// Names the network device managers share with the processes that command
// them: settings keys (HKEY_LOCAL_MACHINE, 32-bit view), the registry values
// under them, and the named command events.
namespace NetDevice
{

constexpr wchar_t SMARTLIGHTING_SETTINGS_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\SmartLighting\\PhilipsHue";
constexpr wchar_t SMARTLIGHTING_COMMAND_EVENT[] = L"Global\\{E1E6E8C5-6E1C-465A-ADB8-3E213B1E2E36}";
constexpr wchar_t IOT_SETTINGS_KEY[] = L"Software\\Vexel Kaleo SDK\\Devices\\IoT";
constexpr wchar_t IOT_COMMAND_EVENT[] = L"Global\\{FB2F2BAB-9609-4F75-8C15-6E2F797B5800}";

// The command word ("Load" or "Reset"), the configuration file's path, and
// the smart-lighting module's content-logging switch.
constexpr wchar_t EVENT_VALUE[] = L"Event";
constexpr wchar_t PATH_VALUE[] = L"Path";
constexpr wchar_t DEBUG_VALUE[] = L"Debug";

} // namespace NetDevice
