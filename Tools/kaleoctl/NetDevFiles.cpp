// kaleoctl netdev: replacing writes, and the plug-in copies in bin.
#include "NetDevFiles.h"

#include <algorithm>
#include <vector>

#include "FileText.h"
#include "Handles.h"

namespace
{
// A reader (a device manager, a plug-in) may hold the file for a moment;
// the replacing move waits that long for it.
constexpr int kMoveAttempts = 50;
constexpr DWORD kMoveRetryMs = 20;

DWORD WriteAll(HANDLE file, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size())
    {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr))
            return ::GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        done += written;
    }
    return ::FlushFileBuffers(file) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD MoveReplacing(const std::wstring& from, const std::wstring& to)
{
    for (int attempt = 0;; ++attempt)
    {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ERROR_SUCCESS;
        const DWORD error = ::GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) || attempt + 1 >= kMoveAttempts)
            return error;
        ::Sleep(kMoveRetryMs);
    }
}
} // namespace

namespace NetDevFiles
{

std::wstring FullPath(const std::wstring& path)
{
    if (path.empty())
        return std::wstring();
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0 || needed > 32768)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD chars = ::GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    return chars == 0 || chars >= needed ? std::wstring() : std::wstring(buffer.data(), chars);
}

DWORD WriteFileReplacing(const std::wstring& path, const std::string& bytes)
{
    const std::wstring temp = path + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    DWORD rc = ERROR_SUCCESS;
    {
        Common::CHandle file(
            ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return ::GetLastError();
        rc = WriteAll(file.Get(), bytes);
    }
    if (rc == ERROR_SUCCESS)
        rc = MoveReplacing(temp, path);
    if (rc != ERROR_SUCCESS)
        ::DeleteFileW(temp.c_str());
    return rc;
}

// The 2F1A*.mod files in bin, sorted.
std::vector<std::wstring> CopiesInBin(const std::wstring& installPath)
{
    std::vector<std::wstring> names = FileText::FilesMatching(installPath + L"\\bin\\2F1A*.mod", SIZE_MAX);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace NetDevFiles
