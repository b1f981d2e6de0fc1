#pragma once
// File name of a bridge's plug-in copy:
// "2F1A" + pid as 4+ upper-case hex digits + "-00FF-FFFF-" + the first 4
// characters of the id + "-" + its characters 5 to 16, upper case, + ".mod".
// The id is cut as bytes of the thread's ANSI code page. An id shorter than
// HUE_ID_MIN_CHARS gives a name of the wrong shape: such a bridge is not to
// be attached. Empty when the id holds a character that cannot stand in a
// file name. Throws std::runtime_error when the id cannot be converted,
// std::bad_alloc.
#include <cstddef>
#include <cstdint>
#include <string>

namespace HueBridge
{

constexpr size_t HUE_ID_MIN_CHARS = 12;

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& id);

} // namespace HueBridge
