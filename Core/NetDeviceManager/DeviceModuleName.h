#pragma once
// The part both modules share of the file name of a device's plug-in copy.
#include <cstdint>
#include <string>

namespace NetDevice
{

// "2F1A" + the product id as upper-case hexadecimal of its unsigned 32-bit
// value, left-padded with "0" to 4 digits and never cut, + middle + the
// device part with its ASCII letters in upper case + ".mod". The device
// part comes from another process's file and is taken as it is: whoever
// joins the name to a folder checks that it is one plain file name.
std::wstring ComposeDeviceModuleName(int32_t pid, const wchar_t* middle, std::wstring devicePart);

} // namespace NetDevice
