#include "Console.h"

#include <windows.h>
#include <cstdarg>
#include <cwchar>
#include <vector>

#include "TextCodec.h"

namespace
{
void WriteUtf8(DWORD stdHandle, const std::wstring& text)
{
    const std::string bytes = TextCodec::WideToUtf8Lenient(text);
    if (bytes.empty())
        return;
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(stdHandle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring FormatV(const wchar_t* format, va_list args)
{
    std::vector<wchar_t> buffer(1024);
    for (;;)
    {
        va_list copy;
        va_copy(copy, args);
        const int n = _vsnwprintf(buffer.data(), buffer.size() - 1, format, copy);
        va_end(copy);
        if (n >= 0 && static_cast<size_t>(n) < buffer.size() - 1)
            return std::wstring(buffer.data(), static_cast<size_t>(n));
        if (buffer.size() > (1u << 20))
            return std::wstring(buffer.data(), buffer.size() - 1);
        buffer.resize(buffer.size() * 4);
    }
}
} // namespace

namespace Console
{
void Out(const std::wstring& text)
{
    WriteUtf8(STD_OUTPUT_HANDLE, text);
}

void Err(const std::wstring& text)
{
    WriteUtf8(STD_ERROR_HANDLE, text);
}

void Print(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    Out(FormatV(format, args));
    va_end(args);
}

void Error(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    Err(FormatV(format, args));
    va_end(args);
}

std::wstring Format(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatV(format, args);
    va_end(args);
    return text;
}
} // namespace Console
