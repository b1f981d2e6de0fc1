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

std::string FromWide(UINT codePage, const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int chars = CheckedLength(text.size());
    const int bytes = ::WideCharToMultiByte(codePage, 0, text.data(), chars, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        throw std::runtime_error("text cannot be converted");
    std::string out(static_cast<size_t>(bytes), '\0');
    if (::WideCharToMultiByte(codePage, 0, text.data(), chars, &out[0], bytes, nullptr, nullptr) != bytes)
        throw std::runtime_error("text cannot be converted");
    return out;
}

std::wstring ToWide(UINT codePage, const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int bytes = CheckedLength(text.size());
    const int chars = ::MultiByteToWideChar(codePage, 0, text.data(), bytes, nullptr, 0);
    if (chars <= 0)
        throw std::runtime_error("text cannot be converted");
    std::wstring out(static_cast<size_t>(chars), L'\0');
    if (::MultiByteToWideChar(codePage, 0, text.data(), bytes, &out[0], chars) != chars)
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

} // namespace TextCodec
