#include "DeviceKeys.h"

#include <cwchar>
#include <cwctype>

#include "DeviceIdentity.h"
#include "DeviceSources.h"

namespace DeviceIdentity
{

namespace
{

constexpr size_t KEY_TEXT_MAX_CHARS = 8;
constexpr size_t IOT_ID_CHARS = 14;

const DeviceSources::CSpecialKind* FindSpecialKind(const wchar_t* path, std::wstring& suffix)
{
    const std::wstring instance = ExtractInstanceId(path);
    const size_t brace = instance.rfind(L'}');
    const std::wstring prefix = brace == std::wstring::npos ? std::wstring() : instance.substr(0, brace + 1);
    suffix = brace == std::wstring::npos ? instance : instance.substr(brace + 1);
    for (const auto& kind : DeviceSources::SPECIAL_KINDS)
        if (prefix == kind.objectText)
            return &kind;
    return nullptr;
}

// Leading blanks, an optional sign, then decimal digits, as atoi reads
// them; false without digits or when the value leaves 32 bits.
bool ReadDecimal(const std::wstring& text, DWORD& value)
{
    size_t at = 0;
    while (at < text.size() && iswspace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    unsigned long long number = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at, ++digits)
    {
        number = number * 10 + static_cast<unsigned>(text[at] - L'0');
        if (number > 0xFFFFFFFFull)
            return false;
    }
    if (digits == 0)
        return false;
    value = static_cast<DWORD>(negative ? 0u - static_cast<DWORD>(number) : static_cast<DWORD>(number));
    return true;
}

// The part of a bus or IoT instance text that carries the key.
std::wstring KeyText(const std::wstring& instance)
{
    std::wstring text;
    const size_t amp = instance.find(L'&');
    if (amp != std::wstring::npos)
    {
        const size_t next = instance.find(L'&', amp + 1);
        if (next != std::wstring::npos)
            text = instance.substr(amp + 1, next - amp - 1);
    }
    else
    {
        const size_t brace = instance.find(L'{');
        if (brace != std::wstring::npos)
        {
            const size_t dash = instance.find(L'-', brace + 1);
            if (dash != std::wstring::npos)
                text = instance.substr(brace + 1, dash - brace - 1);
        }
        else
        {
            text = instance;
        }
    }
    if (text.size() > KEY_TEXT_MAX_CHARS)
        text.resize(KEY_TEXT_MAX_CHARS);
    return text;
}

} // namespace

bool MakeSpecialDeviceKey(const wchar_t* path, DEVICE_HANDLE& deviceHandle)
{
    std::wstring suffix;
    const auto* kind = FindSpecialKind(path, suffix);
    if (!kind)
        return false;
    wchar_t pidText[16] = {};
    ::_snwprintf(pidText, 15, L"%x", kind->pid);
    return ReadDecimal(pidText + suffix, deviceHandle);
}

bool MakeDeviceKey(const wchar_t* path, DEVICE_HANDLE& deviceHandle)
{
    const LONG pid = ParseProductId(path);
    if (pid >= 0 && DeviceSources::IsSpecialPid(static_cast<DWORD>(pid)))
        return MakeSpecialDeviceKey(path, deviceHandle);

    const std::wstring text = KeyText(ExtractInstanceId(path));
    // The C run-time's conversion (blanks, sign, "0x"); a text it cannot
    // start on gives no handle rather than handle 0.
    wchar_t* end = nullptr;
    const unsigned long value = wcstoul(text.c_str(), &end, 16);
    if (end == text.c_str())
        return false;
    deviceHandle = static_cast<DEVICE_HANDLE>(value);
    return true;
}

std::wstring MakeSpecialPipeName(const wchar_t* path)
{
    std::wstring suffix;
    const auto* kind = FindSpecialKind(path, suffix);
    return kind ? kind->pipeBase + suffix : std::wstring();
}

DWORD MakeIoTDevicePath(const std::wstring& product, const std::wstring& deviceId, std::wstring& path)
{
    path.clear();
    if (product.empty())
        return ERROR_UNKNOWN_PRODUCT;
    if (deviceId.empty())
        return ERROR_INVALID_HANDLE;
    std::wstring id = deviceId.substr(0, IOT_ID_CHARS);
    id.append(IOT_ID_CHARS - id.size(), L'F');
    const std::wstring instance =
        id.substr(0, 1) + L'&' + id.substr(1, 8) + L'&' + id.substr(9, 1) + L'&' + id.substr(10, 4);
    path = L"\\\\?\\HID#VID_2F1A&" + product + L'#' + instance + L'#';
    return ERROR_SUCCESS;
}

std::wstring MakeBusDevicePath(const std::wstring& bus, const std::wstring& hardwareId,
                               const std::wstring& instanceId)
{
    return L"\\\\?\\" + bus + L'#' + hardwareId + L'#' + instanceId + L'#';
}

namespace
{

std::wstring SpecialPath(DWORD pid, const wchar_t* objectText, LONG number)
{
    wchar_t text[128] = {};
    ::_snwprintf(text, 127, L"\\\\?\\hid#vid_%x&pid_0%x#%s%d#", DeviceSources::VENDOR_ID, pid, objectText,
                 static_cast<int>(number));
    return text;
}

} // namespace

std::wstring MakeHueBulbPath(LONG bulbId)
{
    return SpecialPath(DeviceSources::PID_PHILIPS_HUE, DeviceSources::SPECIAL_KINDS[0].objectText, bulbId);
}

std::wstring MakeBroadcastPath(DWORD pid, LONG index)
{
    for (const auto& kind : DeviceSources::SPECIAL_KINDS)
        if (kind.pid == pid && pid != DeviceSources::PID_PHILIPS_HUE)
            return SpecialPath(pid, kind.objectText, index);
    return std::wstring();
}

std::wstring MakeBusPipeName(const std::wstring& upperPath)
{
    std::wstring pipe;
    pipe.reserve(upperPath.size() + 16);
    for (wchar_t c : upperPath)
    {
        if (c == L'?')
            pipe += L".\\pipe";
        else
            pipe += c;
    }
    return pipe;
}

} // namespace DeviceIdentity
