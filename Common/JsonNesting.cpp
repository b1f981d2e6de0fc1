#include "JsonNesting.h"

namespace Common
{

bool JsonNestingWithin(const char* text, size_t length, int limit) noexcept
{
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < length; ++i)
    {
        const char c = text[i];
        if (inString)
        {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        }
        else if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
        {
            if (++depth > limit)
                return false;
        }
        else if (c == '}' || c == ']')
            --depth;
    }
    return true;
}

} // namespace Common
