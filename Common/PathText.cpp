#include "PathText.h"

namespace Common
{
namespace
{
constexpr wchar_t kSeparators[] = L"\\/";
} // namespace

std::wstring FileNamePart(const std::wstring& path)
{
    const size_t sep = path.find_last_of(kSeparators);
    return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

std::wstring FolderPart(const std::wstring& path)
{
    const size_t sep = path.find_last_of(kSeparators);
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep);
}

} // namespace Common
