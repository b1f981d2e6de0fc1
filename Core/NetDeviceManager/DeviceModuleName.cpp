#include "DeviceModuleName.h"

namespace NetDevice
{
namespace
{

const wchar_t VENDOR_ID[] = L"2F1A";
const wchar_t EXTENSION[] = L".mod";

// At least 4 digits, more when the value needs them.
std::wstring ProductIdHex(uint32_t pid)
{
    std::wstring digits;
    do
    {
        digits.insert(digits.begin(), L"0123456789ABCDEF"[pid & 0xF]);
        pid >>= 4;
    } while (pid != 0);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), L'0');
    return digits;
}

// Only ASCII letters change: the name must not depend on the user's locale.
void AsciiUpper(std::wstring& text) noexcept
{
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
}

} // namespace

std::wstring ComposeDeviceModuleName(int32_t pid, const wchar_t* middle, std::wstring devicePart)
{
    AsciiUpper(devicePart);
    return VENDOR_ID + ProductIdHex(static_cast<uint32_t>(pid)) + middle + devicePart + EXTENSION;
}

} // namespace NetDevice
