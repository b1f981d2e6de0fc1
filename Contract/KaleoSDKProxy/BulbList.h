#pragma once
// The Hue bulb list "bulbsId": decimal ids, each optionally followed by one
// ",", no blanks, in the order added.
#include <windows.h>
#include <string>
#include <vector>

namespace DeviceIdentity
{

// The ids in order; reading stops at the first text that is not a number
// (or one that leaves 32 bits), so "3,x,7" gives only 3.
std::vector<LONG> ParseBulbList(const std::wstring& text);

// "%d" for the first id, ",%d" for each further one.
std::wstring FormatBulbList(const std::vector<LONG>& ids);

} // namespace DeviceIdentity
