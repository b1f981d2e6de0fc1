#pragma once
// Console output of the operator tool: UTF-8 on stdout/stderr, which works
// the same for a console, a file and a pipe.
#include <string>

namespace Console
{
void Out(const std::wstring& text);
void Err(const std::wstring& text);
// printf-style, wide format (%s takes a wide string).
void Print(const wchar_t* format, ...);
void Error(const wchar_t* format, ...);
std::wstring Format(const wchar_t* format, ...);
} // namespace Console
