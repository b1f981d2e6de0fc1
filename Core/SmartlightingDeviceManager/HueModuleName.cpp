#include "HueModuleName.h"

#include "DeviceModuleName.h"
#include "TextCodec.h"

namespace HueBridge
{
namespace
{

constexpr size_t ID_HEAD_BYTES = 4;
constexpr size_t ID_TAIL_BYTES = 12;

} // namespace

std::wstring MakeDeviceModuleName(int32_t pid, const std::wstring& id)
{
    // A bridge id such as 001788fffe123abc becomes the last two groups of a
    // GUID-shaped name: 0017-88FFFE123ABC. Cut as the configuration file's
    // bytes, which is what the id was read from.
    const std::string ansi = TextCodec::WideToAnsi(id);
    std::string part = ansi.substr(0, ID_HEAD_BYTES) + "-";
    if (ansi.size() > ID_HEAD_BYTES)
        part += ansi.substr(ID_HEAD_BYTES, ID_TAIL_BYTES);
    return NetDevice::ComposeDeviceModuleName(pid, L"-00FF-FFFF-", TextCodec::AnsiToWide(part));
}

} // namespace HueBridge
