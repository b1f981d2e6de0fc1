#include "BulbList.h"

#include <cwctype>

namespace DeviceIdentity
{

namespace
{

// One signed decimal number at `at` (leading blanks and a sign accepted);
// false without digits or beyond 32 bits.
bool ReadNumber(const std::wstring& text, size_t& at, LONG& value)
{
    size_t i = at;
    while (i < text.size() && iswspace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-'))
        negative = text[i++] == L'-';
    long long number = 0;
    const size_t first = i;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    {
        number = number * 10 + (text[i] - L'0');
        if (number > 0x80000000LL)
            return false;
    }
    if (i == first)
        return false;
    if (negative)
        number = -number;
    if (number > 0x7FFFFFFFLL)
        return false;
    value = static_cast<LONG>(number);
    at = i;
    return true;
}

} // namespace

std::vector<LONG> ParseBulbList(const std::wstring& text)
{
    std::vector<LONG> ids;
    size_t at = 0;
    LONG id = 0;
    while (at < text.size() && ReadNumber(text, at, id))
    {
        ids.push_back(id);
        if (at < text.size() && text[at] == L',')
            ++at;
    }
    return ids;
}

std::wstring FormatBulbList(const std::vector<LONG>& ids)
{
    std::wstring text;
    for (size_t i = 0; i < ids.size(); ++i)
    {
        if (i > 0)
            text += L',';
        text += std::to_wstring(ids[i]);
    }
    return text;
}

} // namespace DeviceIdentity
