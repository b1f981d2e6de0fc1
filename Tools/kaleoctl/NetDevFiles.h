#pragma once
// The file side of kaleoctl netdev: the repeating-key XOR of the device
// managers' configuration files and writes that a reader never sees half
// done. The files hold UTF-8, as the JSON library writes it and the
// managers read it.
#include <windows.h>
#include <string>

namespace NetDevFiles
{

// Every byte XOR key[i mod key length]; an empty key leaves the bytes.
void Scramble(std::string& bytes, const std::string& key);

// The full path of a file name given on the command line; empty when it
// cannot be formed.
std::wstring FullPath(const std::wstring& path);

// Writes a temporary file beside `path` and moves it over `path`, so a
// reader sees the old file or the new one. 0 or the Win32 error.
DWORD WriteFileReplacing(const std::wstring& path, const std::string& bytes);

} // namespace NetDevFiles
