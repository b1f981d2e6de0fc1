#include "RecordText.h"

#include <windows.h>
#include <climits>
#include <cstring>

namespace NetDevice
{

bool CopyRecordText(wchar_t (&field)[Common::DEVICE_TEXT_CHARS], const std::wstring& text) noexcept
{
    if (text.size() >= Common::DEVICE_TEXT_CHARS)
        return false;
    std::memset(field, 0, sizeof(field));
    std::memcpy(field, text.data(), text.size() * sizeof(wchar_t));
    return true;
}

bool TextEquals(const wchar_t* a, const wchar_t* b) noexcept
{
    return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool TextEquals(const std::wstring& a, const std::wstring& b) noexcept
{
    if (a.size() != b.size() || a.size() > static_cast<size_t>(INT_MAX))
        return false;
    const int length = static_cast<int>(a.size());
    return ::CompareStringOrdinal(a.data(), length, b.data(), length, TRUE) == CSTR_EQUAL;
}

} // namespace NetDevice
