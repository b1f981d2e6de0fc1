#pragma once
// File name of a bridge's plug-in copy:
// "2F1A" + pid as 4+ upper-case hex digits + "-00FF-FFFF-" + the first 4
// characters of the id + "-" + its characters 5 to 16, upper case, + ".mod".
#include <cstdint>
#include <string>

namespace HueBridge
{

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& id);

} // namespace HueBridge
