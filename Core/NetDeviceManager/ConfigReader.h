#pragma once
// The walk both configuration readers share, from the START line to the END
// line: the path check, reading and unscrambling the file, the content dump,
// the empty-file answer, the removal of line feeds and tabs, the nesting
// guard, and turning any failure of the parse into 5930 with its reason in
// the log. A reader supplies only its file's settings and what it makes of
// the parsed text.
#include <windows.h>
#include <string>

#include "LogWriter.h"

namespace NetDevice
{

// The result for a configuration that cannot be used: not the expected
// JSON, too large, too deep, or a value that does not fit its record.
constexpr DWORD CONFIG_UNUSABLE = 5930;
// Texts nested deeper are refused before parsing: walking and printing a
// value recurse once per level.
constexpr int CONFIG_MAX_NESTING = 256;

enum class CScrambleForm
{
    WholeFile,
    LengthPrefixed,
};

struct CConfigFile
{
    const wchar_t* function;  // first argument of every line, "CClass::GetDevicesInfo"
    const char* key;          // the XOR key
    CScrambleForm form;
    const wchar_t* fileName;  // the file as the lines name it (".json", "VxIoT.json")
    bool logContent;          // dump the unscrambled text in 200-byte lines
};

// 0; 87 when the path is empty in the thread's ANSI code page; 5930 (logged)
// when it cannot be converted.
DWORD CheckConfigPath(const wchar_t* function, const std::wstring& path) noexcept;

// The text ready to parse: read, unscrambled, dumped when asked, line feeds
// and tabs removed, nesting checked. 0; 13 (the empty-file line logged) for
// a file that is missing, unreadable or holds no text; 5930 (logged) for a
// file that is too large, a length field that does not fit, a text nested
// too deeply or a lack of memory.
DWORD LoadConfigText(const CConfigFile& file, const std::wstring& path, std::string& text) noexcept;

// Called inside a catch block: logs why the parse or the records failed (the
// JSON library's message, a conversion failure, a lack of memory) and
// returns 5930.
DWORD ReportParseFailure(const wchar_t* function) noexcept;

// An exception's message in UTF-16, read as UTF-8 (the JSON library quotes
// the file's bytes in it); empty when it cannot be converted.
std::wstring MessageText(const char* message) noexcept;

// The whole reader. `parse` (const std::string& text) -> DWORD builds the
// records from the prepared text and may throw; whatever it throws ends as
// 5930. An empty path ends the call at once, without an END line.
template <typename TParse>
DWORD ReadConfigFile(const CConfigFile& file, const std::wstring& path, TParse&& parse) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | START", file.function);
    DWORD result = CheckConfigPath(file.function, path);
    if (result == ERROR_INVALID_PARAMETER)
        return result;
    std::string text;
    if (result == ERROR_SUCCESS)
        result = LoadConfigText(file, path, text);
    if (result == ERROR_SUCCESS)
    {
        try
        {
            result = parse(text);
        }
        catch (...)
        {
            result = ReportParseFailure(file.function);
        }
    }
    KLOG(Common::LOG_INFO, L"%s | END | Result = %d", file.function, static_cast<int>(result));
    return result;
}

} // namespace NetDevice
