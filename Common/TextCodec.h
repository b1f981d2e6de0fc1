#pragma once
// Conversions between the host's UTF-16 texts and the 8-bit texts the JSON
// library reads. Requests arrive in the thread's ANSI code page; pipe
// messages and the network device managers' configuration files are UTF-8. Each throws std::bad_alloc when memory runs out and
// std::runtime_error when the system refuses the conversion.
#include <string>

namespace TextCodec
{

std::string WideToAnsi(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

} // namespace TextCodec
