// Argument helpers shared by the commands.
#include "Commands.h"
#include "Console.h"

#include <cerrno>
#include <cwchar>
#include <cwctype>

bool TakeFlag(CArgs& args, const wchar_t* name)
{
    for (auto it = args.begin(); it != args.end(); ++it)
    {
        if (*it == name)
        {
            args.erase(it);
            return true;
        }
    }
    return false;
}

bool TakeOption(CArgs& args, const wchar_t* name, std::wstring& value)
{
    for (auto it = args.begin(); it != args.end(); ++it)
    {
        if (*it == name && it + 1 != args.end())
        {
            value = *(it + 1);
            args.erase(it, it + 2);
            return true;
        }
    }
    return false;
}

bool ParseNumber64(const std::wstring& text, unsigned long long& value, bool allowHex)
{
    // wcstoul would take blanks, a sign and a partial text; none is a number here.
    if (text.empty() || !std::iswdigit(text[0]))
        return false;
    int base = 10;
    const wchar_t* start = text.c_str();
    if (allowHex && text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
    {
        base = 16;
        start += 2;
        if (!std::iswxdigit(*start))
            return false;
    }
    errno = 0;
    wchar_t* end = nullptr;
    const unsigned long long parsed = std::wcstoull(start, &end, base);
    if (errno != 0 || end == start || *end != L'\0')
        return false;
    value = parsed;
    return true;
}

bool ParseNumber(const std::wstring& text, unsigned long& value, bool allowHex)
{
    unsigned long long parsed = 0;
    if (!ParseNumber64(text, parsed, allowHex) || parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<unsigned long>(parsed);
    return true;
}

bool ParseNumber(const std::wstring& text, unsigned long& value, unsigned long min, unsigned long max,
                 bool allowHex)
{
    return ParseNumber(text, value, allowHex) && value >= min && value <= max;
}

void PrintUsage(const wchar_t* usage)
{
    Console::Err(usage);
}
