#pragma once
// The part both modules share of the file name of a device's plug-in copy.
#include <cstdint>
#include <string>

namespace NetDevice
{

// "2F1A" + the product id as upper-case hexadecimal of its unsigned 32-bit
// value, left-padded with "0" to 4 digits and never cut, + middle + the
// device part with its ASCII letters in upper case + ".mod". Empty when the
// device part holds a character that cannot stand in a file name (a path
// separator, a drive colon, a wildcard, a control character): the name is
// joined to InstallPath\bin, and the device part comes from another
// process's file.
std::wstring ComposeDeviceModuleName(int32_t pid, const wchar_t* middle, std::wstring devicePart);

} // namespace NetDevice
