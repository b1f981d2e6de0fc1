#include "TextCodec.h"

#include <windows.h>
#include <climits>
#include <stdexcept>

namespace TextCodec
{
namespace
{

int CheckedLength(size_t size)
{
    if (size > static_cast<size_t>(INT_MAX))
        throw std::runtime_error("text too long to convert");
    return static_cast<int>(size);
}

// False when the system refuses the conversion; `out` is replaced only on
// success. `chars` is the text's size already checked against INT_MAX.
bool Encode(UINT codePage, DWORD flags, const std::wstring& text, int chars, std::string& out)
{
    const int bytes = ::WideCharToMultiByte(codePage, flags, text.data(), chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    std::string converted(static_cast<size_t>(bytes), '\0');
    if (::WideCharToMultiByte(codePage, flags, text.data(), chars, &converted[0], bytes, nullptr, nullptr) != bytes)
        return false;
    out.swap(converted);
    return true;
}

bool Decode(UINT codePage, const std::string& text, int bytes, std::wstring& out)
{
    const int chars = ::MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
    if (chars <= 0)
        return false;
    std::wstring converted(static_cast<size_t>(chars), L'\0');
    if (::MultiByteToWideChar(codePage, 0, text.data(), bytes, &converted[0], chars) != chars)
        return false;
    out.swap(converted);
    return true;
}

std::string FromWide(UINT codePage, const std::wstring& text)
{
    std::string out;
    if (!text.empty() && !Encode(codePage, 0, text, CheckedLength(text.size()), out))
        throw std::runtime_error("text cannot be converted");
    return out;
}

std::wstring ToWide(UINT codePage, const std::string& text)
{
    std::wstring out;
    if (!text.empty() && !Decode(codePage, text, CheckedLength(text.size()), out))
        throw std::runtime_error("text cannot be converted");
    return out;
}

} // namespace

std::string WideToAnsi(const std::wstring& text)
{
    return FromWide(CP_THREAD_ACP, text);
}

std::wstring AnsiToWide(const std::string& text)
{
    return ToWide(CP_THREAD_ACP, text);
}

std::wstring Utf8ToWide(const std::string& text)
{
    return ToWide(CP_UTF8, text);
}

std::string WideToUtf8(const std::wstring& text)
{
    return FromWide(CP_UTF8, text);
}

std::wstring Utf8ToWideLenient(const std::string& text)
{
    std::wstring out;
    if (!text.empty() && text.size() <= static_cast<size_t>(INT_MAX))
        Decode(CP_UTF8, text, static_cast<int>(text.size()), out);
    return out;
}

std::string WideToUtf8Lenient(const std::wstring& text)
{
    std::string out;
    // Up to three bytes a character: the result must fit an int too.
    if (!text.empty() && text.size() <= static_cast<size_t>(INT_MAX / 4))
        Encode(CP_UTF8, 0, text, static_cast<int>(text.size()), out);
    return out;
}

bool WideToUtf8Strict(const std::wstring& text, std::string& utf8)
{
    utf8.clear();
    if (text.empty())
        return true;
    if (text.size() > static_cast<size_t>(INT_MAX))
        return false;
    return Encode(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(text.size()), utf8);
}

} // namespace TextCodec

namespace Common
{

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept
{
    if (a.size() > static_cast<size_t>(INT_MAX) || b.size() > static_cast<size_t>(INT_MAX))
        return false;
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool EqualsNoCase(const wchar_t* a, const wchar_t* b) noexcept
{
    return ::CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

} // namespace Common
