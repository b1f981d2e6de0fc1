#include "ConfigReader.h"

#include <algorithm>
#include <exception>
#include <new>

#include "ContentLog.h"
#include "JsonNesting.h"
#include "ScrambledFile.h"
#include "TextCodec.h"

namespace NetDevice
{
namespace
{

// 0 with the unscrambled text; the read's own error otherwise.
DWORD ReadText(const CConfigFile& file, const std::wstring& path, std::string& text, CLengthField& field) noexcept
{
    if (file.form == CScrambleForm::LengthPrefixed)
        return ReadLengthPrefixedScrambledFile(file.key, path, text, field);
    return ReadScrambledFile(file.key, path, text);
}

// Refusals of the read that say more than "no text": 5930 with the reason
// logged. Any other failure (missing, unreadable, not a disk file) is left
// to the empty-file answer.
bool ReportRefusedRead(const CConfigFile& file, DWORD rc, const CLengthField& field) noexcept
{
    switch (rc)
    {
    case ERROR_FILE_TOO_LARGE:
        KLOG(Common::LOG_ERROR, L"%s | configuration file is larger than %u bytes", file.function,
             static_cast<unsigned>(CONFIG_MAX_BYTES));
        return true;
    case ERROR_BAD_LENGTH:
        KLOG(Common::LOG_ERROR, L"%s | %s length field %d does not fit: %llu bytes follow it, at most %u are read",
             file.function, file.fileName, static_cast<int>(field.declared),
             static_cast<unsigned long long>(field.following), static_cast<unsigned>(CONFIG_MAX_BYTES));
        return true;
    case ERROR_NOT_ENOUGH_MEMORY:
        KLOG(Common::LOG_ERROR, L"%s | not enough memory to read %s", file.function, file.fileName);
        return true;
    default:
        return false;
    }
}

// Line feeds and tabs go wherever they stand, inside strings too: the
// writer of the file breaks and indents its values.
void RemoveLineFeedsAndTabs(std::string& text) noexcept
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    text.erase(std::remove(text.begin(), text.end(), '\t'), text.end());
}

void LogFailure(const wchar_t* function, const char* message) noexcept
{
    const std::wstring wide = MessageText(message);
    if (!wide.empty())
        KLOG(Common::LOG_ERROR, L"%s | %s", function, wide.c_str());
    else
        KLOG(Common::LOG_ERROR, L"%s | %hs", function, message);
}

} // namespace

std::wstring MessageText(const char* message) noexcept
{
    try
    {
        return TextCodec::Utf8ToWide(message ? message : "");
    }
    catch (...)
    {
        return std::wstring();
    }
}

DWORD CheckConfigPath(const wchar_t* function, const std::wstring& path) noexcept
{
    try
    {
        // The file is opened by its wide path; the ANSI form only decides
        // whether there is a path at all.
        return TextCodec::WideToAnsi(path).empty() ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | the path cannot be converted to the ANSI code page", function);
        return CONFIG_UNUSABLE;
    }
}

DWORD LoadConfigText(const CConfigFile& file, const std::wstring& path, std::string& text) noexcept
{
    CLengthField field;
    const DWORD rc = ReadText(file, path, text, field);
    if (ReportRefusedRead(file, rc, field))
        return CONFIG_UNUSABLE;
    if (rc != ERROR_SUCCESS)
        text.clear();
    if (file.logContent && !text.empty())
        LogContentPieces(file.function, text);
    if (text.empty())
    {
        KLOG(Common::LOG_ERROR, L"%s | %s is empty!", file.function, file.fileName);
        return ERROR_INVALID_DATA;
    }
    RemoveLineFeedsAndTabs(text);
    if (!Common::JsonNestingWithin(text.data(), text.size(), CONFIG_MAX_NESTING))
    {
        KLOG(Common::LOG_ERROR, L"%s | %s is nested deeper than %d levels", file.function, file.fileName,
             CONFIG_MAX_NESTING);
        return CONFIG_UNUSABLE;
    }
    return ERROR_SUCCESS;
}

DWORD ReportParseFailure(const wchar_t* function) noexcept
{
    try
    {
        throw;
    }
    catch (const std::bad_alloc&)
    {
        KLOG(Common::LOG_ERROR, L"%s | not enough memory for the configuration", function);
    }
    catch (const std::exception& e)
    {
        // The JSON library's exceptions, and the text conversions'.
        LogFailure(function, e.what());
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | unknown failure reading the configuration", function);
    }
    return CONFIG_UNUSABLE;
}

} // namespace NetDevice
