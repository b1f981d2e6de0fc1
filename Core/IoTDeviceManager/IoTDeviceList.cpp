// The IoT device list file: a length-prefixed JSON array under a repeating
// XOR, one object per device. Every element up to the first null one gives
// a record, stored under its position in the list. Texts are UTF-8.
#include "IoTDeviceList.h"

#include <cstring>
#include <vector>

#include "ConfigReader.h"
#include "LogWriter.h"
#include "RecordText.h"
#include "TextCodec.h"

namespace IoTList
{
namespace
{

const wchar_t FUNCTION[] = L"CIoTDeviceManager::GetDevicesInfo";

// The record fields of the listed texts, in the order of LISTED_TEXT_NAMES.
wchar_t (CRecord::*const TEXT_FIELDS[LISTED_TEXTS])[Common::DEVICE_TEXT_CHARS] = {
    &CRecord::szDeviceName,
    &CRecord::szMacAddress,
    &CRecord::szIpAddress,
    &CRecord::szSerialNumber,
};

CRecord ZeroRecord() noexcept
{
    CRecord record;
    std::memset(&record, 0, sizeof(record));
    return record;
}

// The record of element k. An element that is not an object, or one with a
// text too long for its field, gives an all-zero record: it keeps its
// place in the list but can never be attached (product id 0 is refused).
CRecord MakeRecord(const CListedDevice& device, size_t k)
{
    CRecord record = ZeroRecord();
    record.pid = device.pid;
    record.eid = device.eid;
    record.handle = device.handle;
    for (size_t i = 0; i < LISTED_TEXTS; ++i)
    {
        if (!device.hasText[i])
            continue;
        if (!NetDevice::CopyRecordText(record.*TEXT_FIELDS[i], TextCodec::Utf8ToWide(device.texts[i])))
        {
            KLOG(Common::LOG_ERROR, L"%s | device %d: %hs is 260 characters or longer: device ignored", FUNCTION,
                 static_cast<int>(k), LISTED_TEXT_NAMES[i]);
            return ZeroRecord();
        }
    }
    return record;
}

DWORD StoreDevices(const std::string& text, CRecordTable& discovered)
{
    std::vector<CListedDevice> devices;
    const EListWalk walk = WalkDeviceList(text, devices);

    // Built aside and swapped in, so that a failure halfway leaves the
    // table as it was.
    CRecordTable found = discovered;
    for (size_t k = 0; k < devices.size(); ++k)
        found[static_cast<int32_t>(k)] = MakeRecord(devices[k], k);
    if (walk == EListWalk::TooMany)
    {
        KLOG(Common::LOG_ERROR, L"%s | VxIoT.json lists more than %u devices", FUNCTION,
             static_cast<unsigned>(MAX_LISTED_DEVICES));
        return NetDevice::CONFIG_UNUSABLE;
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
