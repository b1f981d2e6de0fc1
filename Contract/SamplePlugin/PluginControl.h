#pragma once
// The control file: one line per rule, "<identifier> <initResult>
// [initDelayMs]", separated by blanks. The identifier is a bridge id or a
// MAC address, compared case-insensitively; "*" names every device. The
// last line naming a device decides; a device no line names is accepted at
// once. Lines that do not have this shape are ignored.
#include <windows.h>
#include <cstdint>
#include <string>

namespace PluginControl
{

constexpr wchar_t ANY_DEVICE[] = L"*";

struct CControlLine
{
    std::wstring identifier;
    int32_t result = 0;
    DWORD delayMs = 0; // already capped at PluginFiles::MAX_INIT_DELAY_MS
};

// False (line untouched) for a line without the shape above.
bool ParseControlLine(const std::string& line, CControlLine& out);

// What Init answers for a device: result 0 and no delay unless a line says
// otherwise.
struct CControlChoice
{
    int32_t result = 0;
    DWORD delayMs = 0;
};

CControlChoice ChooseControl(const std::string& fileText, const std::wstring& identifier);

} // namespace PluginControl
