// kaleoctl status, log section: the last lines that report an error in the
// logs under InstallPath\Logs, newest last, each with its file. Only the
// tail of each file is read, and only so many files.
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>

#include "Console.h"
#include "FileText.h"
#include "Handles.h"
#include "Registry.h"
#include "Status.h"

namespace Status
{
namespace
{

constexpr LONGLONG kTailBytes = 64 * 1024;
constexpr size_t kMaxLogFiles = 64;
constexpr size_t kShownErrors = 5;

struct CErrorLine
{
    std::wstring stamp; // "date,time": sorts in time order
    std::wstring file;
    std::wstring text;
};

// The last kTailBytes of a UTF-16LE file, whole lines only.
bool ReadTail(const std::wstring& path, std::wstring& text)
{
    Common::CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size))
        return false;
    LARGE_INTEGER start = {};
    start.QuadPart = size.QuadPart > kTailBytes ? (size.QuadPart - kTailBytes) & ~1LL : 0;
    if (!::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN))
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(kTailBytes / sizeof(wchar_t)));
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(kTailBytes), &read, nullptr))
        return false;
    text.assign(buffer.data(), read / sizeof(wchar_t));
    if (start.QuadPart != 0)
    {
        const size_t first = text.find(L'\n');
        text.erase(0, first == std::wstring::npos ? text.size() : first + 1);
    }
    return true;
}

// "date,time,LEVEL,source (line),message": FATAL and ERROR report an error.
bool IsErrorLine(const std::wstring& line, std::wstring& stamp)
{
    const size_t date = line.find(L',');
    const size_t time = date == std::wstring::npos ? date : line.find(L',', date + 1);
    const size_t level = time == std::wstring::npos ? time : line.find(L',', time + 1);
    if (level == std::wstring::npos)
        return false;
    const std::wstring label = line.substr(time + 1, level - time - 1);
    if (label != L"ERROR" && label != L"FATAL")
        return false;
    stamp = line.substr(0, time);
    return true;
}

// Readers and servers that stop or detach end their pending waits, and
// device writers come and go; the modules log each as an error: an aborted
// wait (995), a disconnect of a pipe nobody had connected (536), a writer
// that closed its end (109); the app manager's first start finds no table
// to open (2) and creates it. Those lines say nothing is wrong.
bool IsRoutineEnd(const std::wstring& line)
{
    static const wchar_t* const kEndings[] = {L"error = 995", L"error = 536", L"error = 109",
                                                L"[AppData] Error opening file (2)"};
    for (const wchar_t* ending : kEndings)
    {
        const size_t length = ::wcslen(ending);
        if (line.size() >= length && line.compare(line.size() - length, length, ending) == 0)
            return true;
    }
    return line.find(L",Error (995): ") != std::wstring::npos;
}

void CollectErrors(const std::wstring& file, const std::wstring& text, std::vector<CErrorLine>& errors)
{
    for (std::wstring& line : FileText::Lines(text))
    {
        if (!line.empty() && line[0] == 0xFEFF)
            line.erase(0, 1);
        std::wstring stamp;
        if (IsErrorLine(line, stamp))
            errors.push_back({stamp, file, line});
    }
}

} // namespace

CSection LogSection()
{
    CSection section;
    std::wstring installPath;
    if (!Common::GetInstallPath(installPath))
    {
        section.verdict = L"Log: no InstallPath (run 'kaleoctl install')";
        section.healthy = false;
        return section;
    }
    const std::wstring logs = installPath + L"\\Logs";
    const std::vector<std::wstring> files = FileText::FilesMatching(logs + L"\\*.log", kMaxLogFiles);
    std::vector<CErrorLine> errors;
    for (const std::wstring& file : files)
    {
        std::wstring text;
        if (ReadTail(logs + L"\\" + file, text))
            CollectErrors(file, text, errors);
    }
    if (errors.empty())
    {
        section.verdict = Console::Format(L"Log: no error lines in %u file(s) under %s", static_cast<unsigned>(files.size()),
                                          logs.c_str());
        return section;
    }
    const size_t all = errors.size();
    errors.erase(std::remove_if(errors.begin(), errors.end(),
                                [](const CErrorLine& error) { return IsRoutineEnd(error.text); }),
                 errors.end());
    const unsigned routine = static_cast<unsigned>(all - errors.size());
    if (errors.empty())
    {
        section.verdict = Console::Format(
            L"Log: %u error line(s) in %u file(s), each routine (an ended wait or pipe, a first start)",
            routine, static_cast<unsigned>(files.size()));
        return section;
    }
    section.healthy = false;
    std::stable_sort(errors.begin(), errors.end(),
                     [](const CErrorLine& a, const CErrorLine& b) { return a.stamp < b.stamp; });
    const size_t shown = std::min(errors.size(), kShownErrors);
    section.verdict = Console::Format(L"Log: %u error line(s) in %u file(s), the last %u (and %u routine ones):",
                                      static_cast<unsigned>(errors.size()), static_cast<unsigned>(files.size()),
                                      static_cast<unsigned>(shown), routine);
    for (size_t i = errors.size() - shown; i < errors.size(); ++i)
        section.Add(Printable(errors[i].file, 64) + L": " + Printable(errors[i].text));
    return section;
}

} // namespace Status
