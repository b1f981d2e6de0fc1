#pragma once
// The walk of the IoT device list's JSON into one entry per device, texts
// still in UTF-8; IoTDeviceList.cpp turns the entries into records. Free of
// any system header so that it is also built natively, where the fuzzers
// run it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace IoTList
{

// A longer list is refused whole: each device costs a plug-in copy, and
// a real network holds a few dozen.
constexpr size_t MAX_LISTED_DEVICES = 1024;

// The text members of a device, in the order they are read.
constexpr size_t LISTED_TEXTS = 4;
extern const char* const LISTED_TEXT_NAMES[LISTED_TEXTS];

// One element of the list. An element that is not an object keeps its
// place but lists nothing; integers keep their low bits, a member of another
// type is ignored.
struct CListedDevice
{
    int32_t pid = 0;
    int32_t eid = 0;
    uint64_t handle = 0;
    bool hasText[LISTED_TEXTS] = {};
    std::string texts[LISTED_TEXTS];  // UTF-8, as the JSON library holds them
};

enum class EListWalk
{
    Listed,   // every element up to the first null one (none for a null root)
    TooMany,  // more than MAX_LISTED_DEVICES: `devices` holds the first ones
};

// Throws the JSON library's parse error, and its type error for a root that
// is neither an array nor null.
EListWalk WalkDeviceList(const std::string& text, std::vector<CListedDevice>& devices);

} // namespace IoTList
