#include "IoTModuleName.h"

#include <algorithm>

#include "DeviceModuleName.h"
#include "TextCodec.h"

namespace IoTList
{

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& macAddress)
{
    // aa:bb:cc:dd:ee:ff and AA-BB-CC-DD-EE-FF name the same device, and
    // the same copy.
    std::string digits = TextCodec::WideToAnsi(macAddress);
    digits.erase(std::remove_if(digits.begin(), digits.end(), [](char c) { return c == ':' || c == '-'; }),
                 digits.end());
    return NetDevice::ComposeDeviceModuleName(pid, L"-00FF-FFFF-0000-", TextCodec::AnsiToWide(digits));
}

} // namespace IoTList
