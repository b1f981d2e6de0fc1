#pragma once
// Conversions between the host's UTF-16 texts and the 8-bit texts the JSON
// library reads. Requests arrive in the thread's ANSI code page; pipe
// messages and the network device managers' configuration files are UTF-8. Each throws std::bad_alloc when memory runs out and
// std::runtime_error when the system refuses the conversion.
#include <string>
#include <string_view>

namespace TextCodec
{

std::string WideToAnsi(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// For texts read from files other processes write: never throw on bad
// input (invalid sequences become U+FFFD, a refused conversion gives an
// empty text); std::bad_alloc only.
std::wstring Utf8ToWideLenient(const std::string& text);
std::string WideToUtf8Lenient(const std::wstring& text);

// For messages that must survive the trip intact: false when the text holds
// an unpaired surrogate (or cannot be converted); `utf8` is cleared first.
bool WideToUtf8Strict(const std::wstring& text, std::string& utf8);

} // namespace TextCodec

namespace Common
{

// Ordinal comparison without case (CompareStringOrdinal), as the file system
// compares names. Counted texts compare every character, NULs included; a
// text longer than INT_MAX characters equals nothing.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b) noexcept;
// Both texts up to their terminators.
bool EqualsNoCase(const wchar_t* a, const wchar_t* b) noexcept;

} // namespace Common
