#include "DeviceIdentity.h"

#include <objbase.h>
#include <cwchar>

namespace DeviceIdentity
{

std::wstring ToUpper(const wchar_t* text)
{
    std::wstring copy = text ? text : L"";
    if (!copy.empty())
        ::CharUpperBuffW(&copy[0], static_cast<DWORD>(copy.size()));
    return copy;
}

namespace
{

// The C run-time's unsigned conversion in base 16 on at most `width`
// characters after the token; no digits give 0.
LONG ParseField(const wchar_t* path, const wchar_t* token, size_t width)
{
    const std::wstring upper = ToUpper(path);
    const size_t at = upper.find(token);
    if (at == std::wstring::npos)
        return FIELD_ABSENT;
    const std::wstring digits = upper.substr(at + wcslen(token), width);
    return static_cast<LONG>(wcstoul(digits.c_str(), nullptr, 16));
}

bool FindInstance(const std::wstring& upper, std::wstring& instance)
{
    const size_t pid = upper.find(L"PID");
    if (pid == std::wstring::npos)
        return false;
    const size_t first = upper.find(L'#', pid);
    if (first == std::wstring::npos || first == 0)
        return false;
    const size_t last = upper.rfind(L'#');
    if (last == std::wstring::npos || last == 0 || last >= upper.size())
        return false;
    instance = last > first ? upper.substr(first + 1, last - first - 1) : std::wstring();
    return true;
}

} // namespace

LONG ParseVendorId(const wchar_t* path) { return ParseField(path, L"VID_", 4); }
LONG ParseProductId(const wchar_t* path) { return ParseField(path, L"PID_", 4); }
LONG ParseInterfaceNumber(const wchar_t* path) { return ParseField(path, L"MI_", 2); }
LONG ParseCollectionNumber(const wchar_t* path) { return ParseField(path, L"COL", 2); }
LONG ParseRevision(const wchar_t* path) { return ParseField(path, L"REV_", 4); }

std::wstring ExtractInstanceId(const wchar_t* path)
{
    std::wstring instance;
    FindInstance(ToUpper(path), instance);
    return instance;
}

LONG ExtractInstanceId(const wchar_t* path, std::wstring& out)
{
    std::wstring instance;
    if (FindInstance(ToUpper(path), instance))
        out.swap(instance);
    return static_cast<LONG>(out.size());
}

GUID MakeContainerGuid(const wchar_t* path)
{
    std::wstring instance = ExtractInstanceId(path);
    std::wstring compact;
    for (wchar_t c : instance)
        if (c != L'&')
            compact += c;
    compact.resize(compact.size() < 12 ? compact.size() : 12);

    // The fields are bounded (8 + 8 + 2 + 2 + 4 + 4 + 12 characters), so
    // the text always fits.
    wchar_t text[80] = {};
    ::_snwprintf(text, sizeof(text) / sizeof(text[0]) - 1, L"{%04X%04X-%02X%02X-%04X-%04X-%s}",
             static_cast<unsigned>(ParseVendorId(path)), static_cast<unsigned>(ParseProductId(path)),
             static_cast<unsigned>(ParseInterfaceNumber(path)) & 0xFFu,
             static_cast<unsigned>(ParseCollectionNumber(path)) & 0xFFu,
             static_cast<unsigned>(ParseRevision(path)) & 0xFFFFu, 0u, compact.c_str());

    GUID guid = {};
    if (FAILED(::CLSIDFromString(text, &guid)))
        guid = GUID{};
    return guid;
}

} // namespace DeviceIdentity
