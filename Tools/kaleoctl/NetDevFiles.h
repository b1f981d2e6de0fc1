#pragma once
// The file side of kaleoctl netdev: the repeating-key XOR of the device
// managers' configuration files, text in the code page the managers read,
// and writes that a reader never sees half done.
#include <windows.h>
#include <string>

namespace NetDevFiles
{

// Every byte XOR key[i mod key length]; an empty key leaves the bytes.
void Scramble(std::string& bytes, const std::string& key);

// Texts as the managers read them: bytes of the thread's ANSI code page.
// Characters the code page lacks become '?'. JSON from the library is
// UTF-8; these convert between the two.
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);
std::string WideToAnsi(const std::wstring& text);

// The full path of a file name given on the command line; empty when it
// cannot be formed.
std::wstring FullPath(const std::wstring& path);

// Writes a temporary file beside `path` and moves it over `path`, so a
// reader sees the old file or the new one. 0 or the Win32 error.
DWORD WriteFileReplacing(const std::wstring& path, const std::string& bytes);

} // namespace NetDevFiles
