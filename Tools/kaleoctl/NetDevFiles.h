#pragma once
// The file side of kaleoctl netdev: writes that a reader never sees half
// done. The files hold UTF-8, as the JSON library writes it and the
// managers read it; their scramble is the contract's (Scramble.h).
#include <windows.h>
#include <string>
#include <vector>

namespace NetDevFiles
{

// The full path of a file name given on the command line; empty when it
// cannot be formed.
std::wstring FullPath(const std::wstring& path);

// Writes a temporary file beside `path` and moves it over `path`, so a
// reader sees the old file or the new one. 0 or the Win32 error.
DWORD WriteFileReplacing(const std::wstring& path, const std::string& bytes);

// The plug-in copies the device managers made in InstallPath\bin
// ("2F1A*.mod"), sorted.
std::vector<std::wstring> CopiesInBin(const std::wstring& installPath);

} // namespace NetDevFiles
