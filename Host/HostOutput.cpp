// Reports to the log file and to standard output; see HostOutput.h.
#include "HostOutput.h"

#include <cstdarg>
#include <cwchar>
#include <string>

#include "Locks.h"

namespace Host
{
namespace
{

constexpr size_t kLineChars = 1024;

Common::CSrwLock g_outputLock;  // keeps lines of different threads whole

// A console gets the text as it is; a file or pipe gets UTF-8.
void WriteStdout(const wchar_t* text, size_t chars)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);  // not owned
    if (out == nullptr || out == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    Common::CSrwLock::CScopedLock guard(g_outputLock);
    if (::GetConsoleMode(out, &mode))
    {
        ::WriteConsoleW(out, text, static_cast<DWORD>(chars), &written, nullptr);
        ::WriteConsoleW(out, L"\r\n", 2, &written, nullptr);
    }
    else
    {
        char bytes[kLineChars * 3 + 2];
        int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(chars), bytes,
                                      static_cast<int>(sizeof(bytes) - 2), nullptr, nullptr);
        if (n < 0)
            n = 0;
        bytes[n++] = '\r';
        bytes[n++] = '\n';
        // WriteFile is unbuffered: each line is out when this returns.
        ::WriteFile(out, bytes, static_cast<DWORD>(n), &written, nullptr);
    }
}

} // namespace

void Report(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format, ...)
{
    wchar_t text[kLineChars];
    ::wmemset(text, L'\0', kLineChars);
    va_list args;
    va_start(args, format);
    // msvcrt formatting, %s = wide string; on overflow the text is cut.
    ::_vsnwprintf(text, kLineChars - 1, format, args);
    va_end(args);
    text[kLineChars - 1] = L'\0';
    Common::CLogWriter::GetInstance()->Write(level, sourceFile, line, L"%s", text);
    WriteStdout(text, ::wcslen(text));
}

void PrintLine(const wchar_t* text)
{
    if (text != nullptr)
        WriteStdout(text, ::wcsnlen(text, kLineChars));
}

} // namespace Host
