#include "PluginControl.h"

#include <vector>

#include "PluginFiles.h"
#include "PluginText.h"
#include "TextCodec.h"

namespace PluginControl
{

namespace
{
std::vector<std::string> SplitBlanks(const std::string& line)
{
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            tokens.push_back(line.substr(start, i - start));
    }
    return tokens;
}

// Decimal digits only, at most 0xFFFFFFFF.
bool ParseUnsigned(const std::string& text, uint32_t& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t parsed = 0;
    for (char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        parsed = parsed * 10 + static_cast<uint64_t>(c - '0');
    }
    if (parsed > 0xFFFFFFFFull)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// An optional "-", then decimal digits, within the 32-bit signed range.
bool ParseSigned(const std::string& text, int32_t& value)
{
    const bool negative = !text.empty() && text[0] == '-';
    uint32_t magnitude = 0;
    if (!ParseUnsigned(negative ? text.substr(1) : text, magnitude))
        return false;
    if (negative ? magnitude > 0x80000000u : magnitude > 0x7FFFFFFFu)
        return false;
    value = negative ? static_cast<int32_t>(0u - magnitude) : static_cast<int32_t>(magnitude);
    return true;
}
} // namespace

bool ParseControlLine(const std::string& line, CControlLine& out)
{
    const std::vector<std::string> tokens = SplitBlanks(line);
    if (tokens.size() < 2 || tokens.size() > 3)
        return false;
    CControlLine parsed;
    parsed.identifier = TextCodec::Utf8ToWideLenient(tokens[0]);
    uint32_t delay = 0;
    if (parsed.identifier.empty() || !ParseSigned(tokens[1], parsed.result) ||
        (tokens.size() == 3 && !ParseUnsigned(tokens[2], delay)))
        return false;
    parsed.delayMs = delay < PluginFiles::MAX_INIT_DELAY_MS ? delay : PluginFiles::MAX_INIT_DELAY_MS;
    out = std::move(parsed);
    return true;
}

CControlChoice ChooseControl(const std::string& fileText, const std::wstring& identifier)
{
    CControlChoice choice;
    for (const std::string& text : PluginText::SplitLines(fileText))
    {
        CControlLine line;
        if (!ParseControlLine(text, line))
            continue;
        if (line.identifier == ANY_DEVICE || Common::EqualsNoCase(line.identifier, identifier))
        {
            choice.result = line.result;
            choice.delayMs = line.delayMs;
        }
    }
    return choice;
}

} // namespace PluginControl
