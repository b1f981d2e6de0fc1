#pragma once
// File name of a bridge's plug-in copy:
// "2F1A" + pid as 4+ upper-case hex digits + "-00FF-FFFF-" + the first 4
// characters of the id + "-" + its characters 5 to 16, upper case, + ".mod".
// The id is cut as bytes of the thread's ANSI code page; an id shorter than
// 12 characters gives a name of the wrong shape. Throws std::runtime_error
// when the id cannot be converted, std::bad_alloc.
#include <cstdint>
#include <string>

namespace HueBridge
{

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& id);

} // namespace HueBridge
