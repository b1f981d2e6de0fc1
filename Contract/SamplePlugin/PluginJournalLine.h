#pragma once
// One line of the plug-in journal: the call ("Init", "UnInit"), then
// key=value fields, all separated by tabs, UTF-8, ended by CR LF. Values
// come from device records another process filled: control characters in
// them are written as '?', so a value can never start a field or a line.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace PluginJournal
{

class CJournalLine
{
public:
    explicit CJournalLine(const char* call);

    void Add(const char* key, const std::string& utf8Value);
    void Add(const char* key, const std::wstring& value);
    void Add(const char* key, int64_t value);

    // The whole line with its CR LF.
    const std::string& Text();

private:
    std::string m_text;
    bool m_ended = false;
};

struct CJournalEntry
{
    std::string call;
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field with that key; empty when there is none.
    std::string Field(const std::string& key) const;
};

// False for an empty line or one without a call.
bool ParseJournalLine(const std::string& line, CJournalEntry& entry);

// Every well-formed line of a journal text, in order.
std::vector<CJournalEntry> ParseJournal(const std::string& text);

} // namespace PluginJournal
