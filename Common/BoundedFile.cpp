#include "BoundedFile.h"

#include "Handles.h"

namespace Common
{

DWORD ReadBoundedFile(const std::wstring& path, DWORD maxBytes, std::vector<char>& bytes)
{
    bytes.clear();
    CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size))
        return ERROR_READ_FAULT;
    if (size.QuadPart > static_cast<LONGLONG>(maxBytes))
        return ERROR_FILE_TOO_LARGE;
    if (size.QuadPart <= 0)
        return ERROR_INVALID_DATA;

    // One byte more than the size, so a file that grew meanwhile is noticed.
    bytes.resize(static_cast<size_t>(size.QuadPart) + 1);
    size_t total = 0;
    while (total < bytes.size())
    {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), bytes.data() + total, static_cast<DWORD>(bytes.size() - total), &read, nullptr))
            return ERROR_READ_FAULT;
        if (read == 0)
            break;  // end of file, or it shrank while being read
        total += read;
    }
    if (total > maxBytes)
        return ERROR_FILE_TOO_LARGE;
    bytes.resize(total);
    return bytes.empty() ? ERROR_INVALID_DATA : ERROR_SUCCESS;
}

} // namespace Common
