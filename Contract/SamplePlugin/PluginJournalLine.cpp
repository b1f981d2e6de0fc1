#include "PluginJournalLine.h"

#include "PluginText.h"
#include "TextCodec.h"

namespace PluginJournal
{

namespace
{
void AppendSafe(std::string& out, const std::string& value)
{
    for (char c : value)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x20 || byte == 0x7F ? '?' : c);
    }
}
} // namespace

CJournalLine::CJournalLine(const char* call) : m_text(call)
{
}

void CJournalLine::Add(const char* key, const std::string& utf8Value)
{
    m_text.push_back('\t');
    m_text.append(key);
    m_text.push_back('=');
    AppendSafe(m_text, utf8Value);
}

void CJournalLine::Add(const char* key, const std::wstring& value)
{
    Add(key, TextCodec::WideToUtf8Lenient(value));
}

void CJournalLine::Add(const char* key, int64_t value)
{
    Add(key, std::to_string(value));
}

const std::string& CJournalLine::Text()
{
    if (!m_ended)
    {
        m_text.append("\r\n");
        m_ended = true;
    }
    return m_text;
}

std::string CJournalEntry::Field(const std::string& key) const
{
    for (const auto& field : fields)
    {
        if (field.first == key)
            return field.second;
    }
    return std::string();
}

bool ParseJournalLine(const std::string& line, CJournalEntry& entry)
{
    entry = CJournalEntry();
    size_t start = 0;
    bool first = true;
    while (start <= line.size())
    {
        size_t end = line.find('\t', start);
        if (end == std::string::npos)
            end = line.size();
        const std::string part = line.substr(start, end - start);
        if (first)
        {
            if (part.empty() || part.find('=') != std::string::npos)
                return false;
            entry.call = part;
            first = false;
        }
        else
        {
            const size_t equals = part.find('=');
            // A field without a key=value shape is skipped, not guessed at.
            if (equals != std::string::npos && equals > 0)
                entry.fields.emplace_back(part.substr(0, equals), part.substr(equals + 1));
        }
        start = end + 1;
    }
    return true;
}

std::vector<CJournalEntry> ParseJournal(const std::string& text)
{
    std::vector<CJournalEntry> entries;
    for (const std::string& line : PluginText::SplitLines(text))
    {
        CJournalEntry entry;
        if (ParseJournalLine(line, entry))
            entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace PluginJournal
