#pragma once
// Reading a small file that another process may still be writing (an
// installer, an app's own setup): shared for reading and writing, and
// bounded, so a huge or growing file cannot exhaust the reader.
#include <windows.h>
#include <string>
#include <vector>

namespace Common
{

// Reads the whole file into bytes. 0 on success; ERROR_FILE_NOT_FOUND when
// the file or its folder does not exist; ERROR_FILE_TOO_LARGE when it holds
// (or grew to) more than maxBytes; ERROR_INVALID_DATA when it is empty or no
// plain disk file; ERROR_READ_FAULT or the open's error otherwise.
DWORD ReadBoundedFile(const std::wstring& path, DWORD maxBytes, std::vector<char>& bytes);

} // namespace Common
