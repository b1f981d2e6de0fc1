#include "FileText.h"

#include "Handles.h"

namespace FileText
{
std::vector<std::wstring> FilesMatching(const std::wstring& pattern, size_t most)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    Common::CFindHandle find(::FindFirstFileW(pattern.c_str(), &data));
    if (!find)
        return names;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.emplace_back(data.cFileName);
    } while (names.size() < most && ::FindNextFileW(find.Get(), &data));
    return names;
}

std::vector<std::wstring> Lines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (size_t start = 0; start < text.size();)
    {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == L'\r')
            lines.back().pop_back();
        start = end + 1;
    }
    return lines;
}

} // namespace FileText
