#pragma once
// What the fuzz targets share: the invariants they check and the steps of
// the product they stand in for where the product's own step is Win32.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <nlohmann/json.hpp>

namespace KaleoFuzz
{

// A broken invariant: abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                          \
    do                                                                                 \
    {                                                                                  \
        if (!(condition))                                                              \
        {                                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// The nesting limit of the configuration readers (ConfigReader.h) and of
// the proxy's requests and messages.
constexpr int MAX_NESTING = 256;

// As the configuration readers prepare a text (ConfigReader.cpp).
inline void RemoveLineFeedsAndTabs(std::string& text)
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '\t'), text.end());
}

// Depth of a parsed value, the way dump() recurses; stops counting past
// `limit` so that a guard failure cannot overflow the stack here.
inline int Depth(const nlohmann::json& value, int limit)
{
    if (!value.is_structured() || limit < 0)
        return 0;
    int deepest = 0;
    for (const auto& child : value)
    {
        deepest = std::max(deepest, Depth(child, limit - 1));
        if (deepest > limit)
            break;
    }
    return deepest + 1;
}

// Well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF): what the Windows side's UTF-8 conversion accepts.
inline bool IsUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size())
    {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        unsigned long code = 0;
        if (c < 0x80)
        {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF)
            extra = 1, code = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2, code = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3, code = c & 0x07;
        else
            return false;
        if (text.size() - i <= extra)
            return false;  // cut short
        for (size_t k = 1; k <= extra; ++k)
        {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const unsigned long least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace KaleoFuzz
