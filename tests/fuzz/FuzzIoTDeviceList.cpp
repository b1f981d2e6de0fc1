// The IoT device list as the device manager reads it (IoTList::ReadDeviceList
// through ConfigReader): the text written as a length-prefixed scrambled
// file and decoded again, line feeds and tabs removed, the nesting guard,
// then the walk into one entry per device. The input is the plain text, so
// that mutations act on the JSON; FuzzScrambledFile covers the bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "ConfigFiles.h"
#include "FuzzSupport.h"
#include "IoTListWalk.h"
#include "JsonNesting.h"
#include "ScrambleBytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string file = NetDevice::MakeLengthPrefixedScrambledFile(
        std::string(reinterpret_cast<const char*>(data), size), NetDevice::IOT_CONFIG_KEY);
    std::string text;
    NetDevice::CLengthField field;
    if (NetDevice::DecodeLengthPrefixedText(file.data(), file.size(), NetDevice::IOT_CONFIG_KEY, text, field) !=
        NetDevice::ELengthDecode::Decoded)
        return 0;
    FUZZ_CHECK(text.size() == size);
    KaleoFuzz::RemoveLineFeedsAndTabs(text);
    if (text.empty() || !Common::JsonNestingWithin(text.data(), text.size(), KaleoFuzz::MAX_NESTING))
        return 0;
    try
    {
        std::vector<IoTList::CListedDevice> devices;
        const IoTList::EListWalk walk = IoTList::WalkDeviceList(text, devices);
        FUZZ_CHECK(devices.size() <= IoTList::MAX_LISTED_DEVICES);
        FUZZ_CHECK(walk == IoTList::EListWalk::Listed || devices.size() == IoTList::MAX_LISTED_DEVICES);
        // Every text reaches the UTF-16 conversion as well-formed UTF-8.
        for (const IoTList::CListedDevice& device : devices)
        {
            for (size_t i = 0; i < IoTList::LISTED_TEXTS; ++i)
                FUZZ_CHECK(device.hasText[i] || device.texts[i].empty());
            for (const std::string& member : device.texts)
                FUZZ_CHECK(KaleoFuzz::IsUtf8(member));
        }
    }
    catch (const nlohmann::json::exception&)
    {
        // Not the expected JSON: 5930 with the library's message.
    }
    return 0;
}
