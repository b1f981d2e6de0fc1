#include "IoTListWalk.h"

#include <nlohmann/json.hpp>

#include "ConfigNames.h"

using nlohmann::json;

namespace IoTList
{

const char* const LISTED_TEXT_NAMES[LISTED_TEXTS] = {
    NetDevice::IOT_DEVICE_NAME,
    NetDevice::IOT_MAC_ADDRESS,
    NetDevice::IOT_IP_ADDRESS,
    NetDevice::IOT_SERIAL_NUMBER,
};

namespace
{

// A member's integer as 64 bits; false when it is absent or not a number
// without fraction (a fraction, a boolean or a string is ignored).
bool IntegerMember(const json& device, const char* name, uint64_t& bits)
{
    const auto member = device.find(name);
    if (member == device.end() || !member->is_number_integer())
        return false;
    bits = member->is_number_unsigned() ? member->get<uint64_t>() : static_cast<uint64_t>(member->get<int64_t>());
    return true;
}

int32_t Low32(uint64_t bits) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(bits & 0xFFFFFFFFu));
}

CListedDevice ReadElement(const json& element)
{
    CListedDevice device;
    if (!element.is_object())
        return device;
    uint64_t bits = 0;
    if (IntegerMember(element, NetDevice::IOT_PID, bits))
        device.pid = Low32(bits);
    if (IntegerMember(element, NetDevice::IOT_EID, bits))
        device.eid = Low32(bits);
    if (IntegerMember(element, NetDevice::IOT_HANDLE, bits))
        device.handle = bits;
    for (size_t i = 0; i < LISTED_TEXTS; ++i)
    {
        const auto value = element.find(LISTED_TEXT_NAMES[i]);
        if (value == element.end() || !value->is_string())
            continue;
        device.hasText[i] = true;
        device.texts[i] = value->get_ref<const std::string&>();
    }
    return device;
}

} // namespace

EListWalk WalkDeviceList(const std::string& text, std::vector<CListedDevice>& devices)
{
    devices.clear();
    const json root = json::parse(text);
    if (root.is_null())
        return EListWalk::Listed;  // "null" lists no device
    // Any root but an array or null: the library's type error names it.
    const json::array_t& elements = root.get_ref<const json::array_t&>();
    for (size_t k = 0; k < elements.size() && !elements[k].is_null(); ++k)
    {
        if (k == MAX_LISTED_DEVICES)
            return EListWalk::TooMany;
        devices.push_back(ReadElement(elements[k]));
    }
    return EListWalk::Listed;
}

} // namespace IoTList
