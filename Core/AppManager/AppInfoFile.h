#pragma once
// The app information file "KaleoAppInfo.xml" that an app ships next to its
// executable, and the rules that turn its content into an app's record.
#include <windows.h>
#include <cstddef>
#include <string>

#include "AppRecord.h"

namespace AppInfo
{

constexpr wchar_t APP_INFO_FILE_NAME[] = L"KaleoAppInfo.xml";

// The file is read whole into memory before it is parsed; anything larger
// is refused (a load failure other than "not found").
constexpr DWORD APP_INFO_FILE_MAX_BYTES = 1024 * 1024;

// Longest text a record keeps from the file, in characters without
// terminator. Texts are stored whole up to this bound, which only keeps a
// hostile file from filling the registry.
constexpr size_t FILE_TEXT_MAX_CHARS = 4096;

// Record values for an app without an information file.
constexpr wchar_t DEFAULT_AUTHOR[] = L"Kaleo developer";
constexpr wchar_t DEFAULT_CONTACT[] = L"https://developer.vexel.example/kaleo";

// The boolean rule of the file: true when the text begins with 1, t, T, y
// or Y; empty (a missing attribute) and anything else is false.
inline bool IsTrueText(const wchar_t* text) noexcept
{
    if (!text)
        return false;
    switch (text[0])
    {
    case L'1':
    case L't':
    case L'T':
    case L'y':
    case L'Y':
        return true;
    default:
        return false;
    }
}

// The contact rule: every "vexelzone" becomes "vexel" (case-sensitive),
// and the result is cut to FILE_TEXT_MAX_CHARS. The rule runs on the whole
// text first, so a cut never splits a word the rule would have shortened.
std::wstring ApplyContactRule(const std::wstring& contact);

// What one information file holds. Texts are cut to FILE_TEXT_MAX_CHARS,
// except the contact, kept whole (the file's size bounds it) until the
// contact rule has run; hasX tells whether the element was there at all.
struct CAppInfoContent
{
    bool hasApplication = false;
    bool hasTitle = false;
    std::wstring title;
    bool hasDescription = false;
    std::wstring description;
    bool hasAuthor = false;
    std::wstring author;
    std::wstring contact; // as in the file, before the contact rule
    bool hasDevices = false;
    DWORD devices = 0;
    DWORD category = CATEGORY_APPLICATION;
};

// Reads "KaleoAppInfo.xml" of `folder` (no trailing separator).
// ERROR_SUCCESS: parsed (hasApplication may still be false);
// ERROR_FILE_NOT_FOUND: there is no such file;
// anything else: the file is there but unusable (not a plain file, larger
// than APP_INFO_FILE_MAX_BYTES, unreadable, malformed, out of memory).
DWORD ReadAppInfoFile(const std::wstring& folder, CAppInfoContent& content) noexcept;

} // namespace AppInfo
