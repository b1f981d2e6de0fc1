#pragma once
// Reading a small file that another process may still be writing (an
// installer, an app's own setup): shared for reading and writing, and
// bounded, so a huge or growing file cannot exhaust the reader.
#include <windows.h>
#include <string>
#include <vector>

#include "Handles.h"

namespace Common
{

// Reads the whole file into bytes. 0 on success; ERROR_FILE_NOT_FOUND when
// the file or its folder does not exist; ERROR_FILE_TOO_LARGE when it holds
// (or grew to) more than maxBytes; ERROR_INVALID_DATA when it is empty or no
// plain disk file; ERROR_READ_FAULT or the open's error otherwise.
DWORD ReadBoundedFile(const std::wstring& path, DWORD maxBytes, std::vector<char>& bytes);

// The two steps of a bounded read, for readers that take a file apart
// piece by piece instead of whole.
// Opens the file as ReadBoundedFile does and tells its size: 0;
// ERROR_FILE_NOT_FOUND when the file or its folder does not exist;
// ERROR_INVALID_DATA when it is no plain disk file (a pipe under the name
// must not block the reader); ERROR_READ_FAULT or the open's error otherwise.
DWORD OpenBoundedFile(const std::wstring& path, CHandle& file, ULONGLONG& size) noexcept;
// Reads up to count bytes at the file's position, fewer only at the end of
// the file; `got` tells how many. 0 or ERROR_READ_FAULT.
DWORD ReadUpTo(HANDLE file, void* out, size_t count, size_t& got) noexcept;

} // namespace Common
