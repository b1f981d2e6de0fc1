#pragma once
// Filling the 260-character text fields of a device record.
#include <cstddef>
#include <string>

#include "DeviceInfo.h"

namespace NetDevice
{

// Copies text with its terminator and zero-fills the rest. False, field
// untouched, when the text has DEVICE_TEXT_CHARS (260) characters or more:
// such values are refused rather than cut, so a cut identifier can never
// name another device.
bool CopyRecordText(wchar_t (&field)[Common::DEVICE_TEXT_CHARS], const std::wstring& text) noexcept;

} // namespace NetDevice
