// Command line of VxSvcHost.exe; see HostOptions.h.
#include "HostOptions.h"

#include "HostControl.h"
#include "HostProtocol.h"

namespace Host
{
namespace
{

constexpr size_t kMaxPathChars = MAX_PATH - 1;
constexpr size_t kMaxEventNameChars = MAX_PATH - 1;

bool IsOption(const std::wstring& arg, const wchar_t* name)
{
    return arg == name;
}

DWORD Fail(std::wstring& reason, const std::wstring& text)
{
    reason = text;
    return ERROR_INVALID_PARAMETER;
}

} // namespace

const wchar_t* HostUsage()
{
    return L"Usage: VxSvcHost.exe [--name NAME] [--ready-event EVENT] module1.dll [module2.dll ...]";
}

DWORD ParseHostOptions(int argc, wchar_t** argv, CHostOptions& options, std::wstring& reason)
{
    options = CHostOptions();
    options.m_name = kDefaultHostName;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring arg = argv[i] != nullptr ? argv[i] : L"";
        const bool hasValue = i + 1 < argc && argv[i + 1] != nullptr;
        if (IsOption(arg, L"--help") || IsOption(arg, L"-h") || IsOption(arg, L"/?"))
        {
            options.m_help = true;
            return ERROR_SUCCESS;
        }
        if (IsOption(arg, L"--name"))
        {
            if (!hasValue)
                return Fail(reason, L"--name needs a value");
            options.m_name = argv[++i];
            if (options.m_name.empty() || !IsValidHostName(options.m_name))
                return Fail(reason, L"--name takes 1 to 64 letters, digits, '.', '-' or '_'");
        }
        else if (IsOption(arg, L"--ready-event"))
        {
            if (!hasValue)
                return Fail(reason, L"--ready-event needs a value");
            options.m_readyEvent = argv[++i];
            if (options.m_readyEvent.empty() || options.m_readyEvent.size() > kMaxEventNameChars)
                return Fail(reason, L"--ready-event name is empty or too long");
        }
        else if (arg.size() >= 2 && arg[0] == L'-' && arg[1] == L'-')
            return Fail(reason, L"unknown option " + arg);
        else
        {
            if (arg.empty() || arg.size() > kMaxPathChars)
                return Fail(reason, L"module path is empty or too long");
            if (options.m_modules.size() >= kMaxHostModules)
                return Fail(reason, L"at most " + std::to_wstring(kMaxHostModules) + L" modules");
            options.m_modules.push_back(arg);
        }
    }
    if (options.m_modules.empty())
        return Fail(reason, L"no module given");
    return ERROR_SUCCESS;
}

} // namespace Host
