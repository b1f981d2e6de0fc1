#pragma once
// UTF-8 conversions and comparisons for the plug-in files. Conversions never
// throw on bad input: invalid sequences become U+FFFD.
#include <string>
#include <vector>

namespace PluginText
{

std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

// Equal when compared case-insensitively (ordinal, as the file system does).
bool EqualsNoCase(const std::wstring& a, const std::wstring& b) noexcept;

// The lines of a text file: split at LF, a CR before it dropped, a leading
// UTF-8 byte-order mark dropped; a last line without LF counts too.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace PluginText
