#pragma once
// Numbers and texts taken from a device interface path such as
// \\?\HID#VID_2F1A&PID_0084&MI_00&COL01#7&2f1e1e5&0&0000#{...}.
// Pure functions of their input: every match runs on an upper-case copy,
// so all matching is case-insensitive and all extracted text upper case.
// A null path counts as empty.
#include <windows.h>
#include <string>

namespace DeviceIdentity
{

constexpr LONG FIELD_ABSENT = -1;

// The hexadecimal number after the token ("VID_" 4, "PID_" 4, "MI_" 2,
// "COL" 2, "REV_" 4 characters), or FIELD_ABSENT without the token.
LONG ParseVendorId(const wchar_t* path);
LONG ParseProductId(const wchar_t* path);
LONG ParseInterfaceNumber(const wchar_t* path);
LONG ParseCollectionNumber(const wchar_t* path);
LONG ParseRevision(const wchar_t* path);

// The text strictly between the first "#" after "PID" and the last "#".
// Empty when the path has no such part.
std::wstring ExtractInstanceId(const wchar_t* path);
// The same rule; assigns the text to `out` only when the rule finds it and
// returns out's length afterwards.
LONG ExtractInstanceId(const wchar_t* path, std::wstring& out);

// "{VVVVPPPP-IICC-RRRR-0000-<instance without '&', 12 chars>}" read as a
// GUID; the all-zero GUID when that text is not one.
GUID MakeContainerGuid(const wchar_t* path);

// Upper-case copy through the platform's wide conversion.
std::wstring ToUpper(const wchar_t* text);

} // namespace DeviceIdentity
