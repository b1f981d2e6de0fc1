// The IoT device list file: a length-prefixed JSON array under a repeating
// XOR, one object per device. Every element up to the first null one gives
// a record, stored under its position in the list. Texts are UTF-8.
#include "IoTDeviceList.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "ConfigNames.h"
#include "ConfigReader.h"
#include "LogWriter.h"
#include "RecordText.h"
#include "TextCodec.h"

using nlohmann::json;

namespace IoTList
{
namespace
{

const wchar_t FUNCTION[] = L"CIoTDeviceManager::GetDevicesInfo";

struct CTextMember
{
    const char* name;
    wchar_t (CRecord::*field)[Common::DEVICE_TEXT_CHARS];
};

const CTextMember TEXT_MEMBERS[] = {
    {NetDevice::IOT_DEVICE_NAME, &CRecord::szDeviceName},
    {NetDevice::IOT_MAC_ADDRESS, &CRecord::szMacAddress},
    {NetDevice::IOT_IP_ADDRESS, &CRecord::szIpAddress},
    {NetDevice::IOT_SERIAL_NUMBER, &CRecord::szSerialNumber},
};

CRecord ZeroRecord() noexcept
{
    CRecord record;
    std::memset(&record, 0, sizeof(record));
    return record;
}

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

// The record of element k. An element that is not an object, or one with a
// text too long for its field, gives an all-zero record: it keeps its
// place in the list but can never be attached (product id 0 is refused).
CRecord ReadDevice(const json& element, size_t k)
{
    CRecord record = ZeroRecord();
    if (!element.is_object())
        return record;
    uint64_t bits = 0;
    if (IntegerMember(element, NetDevice::IOT_PID, bits))
        record.pid = Low32(bits);
    if (IntegerMember(element, NetDevice::IOT_EID, bits))
        record.eid = Low32(bits);
    if (IntegerMember(element, NetDevice::IOT_HANDLE, bits))
        record.handle = bits;
    for (const CTextMember& member : TEXT_MEMBERS)
    {
        const auto value = element.find(member.name);
        if (value == element.end() || !value->is_string())
            continue;
        if (!NetDevice::CopyRecordText(record.*member.field,
                                       TextCodec::Utf8ToWide(value->get_ref<const std::string&>())))
        {
            KLOG(Common::LOG_ERROR, L"%s | device %d: %hs is 260 characters or longer: device ignored", FUNCTION,
                 static_cast<int>(k), member.name);
            return ZeroRecord();
        }
    }
    return record;
}

DWORD StoreDevices(const std::string& text, CRecordTable& discovered)
{
    const json root = json::parse(text);
    if (root.is_null())
        return ERROR_SUCCESS;  // "null" lists no device
    // Any root but an array or null: the library's type error names it.
    const json::array_t& devices = root.get_ref<const json::array_t&>();

    // Built aside and swapped in, so that a failure halfway leaves the
    // table as it was.
    CRecordTable found = discovered;
    for (size_t k = 0; k < devices.size() && !devices[k].is_null(); ++k)
    {
        if (k == MAX_LISTED_DEVICES)
        {
            KLOG(Common::LOG_ERROR, L"%s | VxIoT.json lists more than %u devices", FUNCTION,
                 static_cast<unsigned>(MAX_LISTED_DEVICES));
            return NetDevice::CONFIG_UNUSABLE;
        }
        found[static_cast<int32_t>(k)] = ReadDevice(devices[k], k);
    }
    discovered.swap(found);
    return ERROR_SUCCESS;
}

} // namespace

DWORD ReadDeviceList(const std::wstring& path, CRecordTable& discovered) noexcept
{
    // No switch for the dump here: the list is always logged.
    const NetDevice::CConfigFile file = {FUNCTION, CONFIG_KEY, NetDevice::CScrambleForm::LengthPrefixed,
                                         L"VxIoT.json", true};
    return NetDevice::ReadConfigFile(
        file, path, [&discovered](const std::string& text) { return StoreDevices(text, discovered); });
}

} // namespace IoTList
