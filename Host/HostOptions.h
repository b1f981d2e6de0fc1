#pragma once
// Command line of VxSvcHost.exe:
//   VxSvcHost.exe [--name NAME] [--ready-event EVENT] module1.dll [module2.dll ...]
#include <windows.h>
#include <string>
#include <vector>

namespace Host
{

struct CHostOptions
{
    std::wstring m_name;        // the pipe is "\\.\pipe\VxSvcHost.<name>"
    std::wstring m_readyEvent;  // named event set once every module is initialised
    std::vector<std::wstring> m_modules;
    bool m_help = false;
};

// ERROR_INVALID_PARAMETER with a readable reason for a bad command line.
DWORD ParseHostOptions(int argc, wchar_t** argv, CHostOptions& options, std::wstring& reason);

const wchar_t* HostUsage();

} // namespace Host
