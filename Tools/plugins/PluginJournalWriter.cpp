#include "PluginJournalWriter.h"

#include "Handles.h"
#include "PluginFiles.h"

namespace PluginJournal
{

namespace
{
constexpr int kOpenAttempts = 50;
constexpr DWORD kOpenRetryMs = 20;

Common::CHandle OpenJournal(const std::wstring& path, DWORD& error)
{
    for (int attempt = 0;; ++attempt)
    {
        Common::CHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
        if (file || error != ERROR_SHARING_VIOLATION || attempt + 1 >= kOpenAttempts)
            return file;
        ::Sleep(kOpenRetryMs);
    }
}
} // namespace

DWORD AppendJournalLine(const std::wstring& installPath, const std::string& line) noexcept
{
    try
    {
        if (installPath.empty() || line.empty() || line.size() > MAXDWORD)
            return ERROR_INVALID_PARAMETER;
        DWORD error = ERROR_SUCCESS;
        const Common::CHandle file = OpenJournal(installPath + L"\\" + PluginFiles::JOURNAL_FILE, error);
        if (!file)
            return error;
        DWORD written = 0;
        if (!::WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            return ::GetLastError();
        return written == line.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
    }
    catch (...)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace PluginJournal
