#include "BoundedFile.h"

#include <algorithm>

namespace Common
{

DWORD OpenBoundedFile(const std::wstring& path, CHandle& file, ULONGLONG& size) noexcept
{
    size = 0;
    file.Reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
    {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return ERROR_FILE_NOT_FOUND;
        return error != ERROR_SUCCESS ? error : ERROR_OPEN_FAILED;
    }
    // A pipe or device under the expected name must not block the reader.
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return ERROR_INVALID_DATA;
    LARGE_INTEGER length = {};
    if (!::GetFileSizeEx(file.Get(), &length) || length.QuadPart < 0)
        return ERROR_READ_FAULT;
    size = static_cast<ULONGLONG>(length.QuadPart);
    return ERROR_SUCCESS;
}

DWORD ReadUpTo(HANDLE file, void* out, size_t count, size_t& got) noexcept
{
    got = 0;
    char* const bytes = static_cast<char*>(out);
    while (got < count)
    {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - got, MAXDWORD));
        DWORD read = 0;
        if (!::ReadFile(file, bytes + got, chunk, &read, nullptr))
            return ERROR_READ_FAULT;
        if (read == 0)
            break;  // end of file, or it shrank while being read
        got += read;
    }
    return ERROR_SUCCESS;
}

DWORD ReadBoundedFile(const std::wstring& path, DWORD maxBytes, std::vector<char>& bytes)
{
    bytes.clear();
    CHandle file;
    ULONGLONG size = 0;
    const DWORD opened = OpenBoundedFile(path, file, size);
    if (opened != ERROR_SUCCESS)
        return opened;
    if (size > maxBytes)
        return ERROR_FILE_TOO_LARGE;
    if (size == 0)
        return ERROR_INVALID_DATA;

    // One byte more than the size, so a file that grew meanwhile is noticed.
    bytes.resize(static_cast<size_t>(size) + 1);
    size_t total = 0;
    if (ReadUpTo(file.Get(), bytes.data(), bytes.size(), total) != ERROR_SUCCESS)
        return ERROR_READ_FAULT;
    if (total > maxBytes)
        return ERROR_FILE_TOO_LARGE;
    bytes.resize(total);
    return bytes.empty() ? ERROR_INVALID_DATA : ERROR_SUCCESS;
}

} // namespace Common
