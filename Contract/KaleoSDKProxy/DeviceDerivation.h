#pragma once
// What the proxy derives for a device path with its catalogue: the record it
// keeps (path, key, object, pipe, plug-in) and why it keeps none. One rule,
// used by the proxy's table and by kaleoctl's view of it.
#include <windows.h>
#include <string>

#include "CatalogSnapshot.h"
#include "DeviceIdentity.h"

namespace DeviceIdentity
{

// Why the proxy keeps no record of a device (bits); 0: it keeps one.
constexpr DWORD NO_RECORD_NO_CATALOGUE = 0x01; // the catalogue cannot be used
constexpr DWORD NO_RECORD_NO_ENTRY = 0x02;     // no entry serves the product id
constexpr DWORD NO_RECORD_NO_KEY = 0x04;       // the path gives no device key

struct CDerivedDevice
{
    std::wstring devicePath;          // upper case
    LONG productId = FIELD_ABSENT;    // as the path names it
    DWORD pid = 0;                    // the product id as the proxy takes it: unsigned
    bool hasKey = false;
    DWORD key = 0;
    std::wstring objectName;          // the device mutex is "Global\" + this
    std::wstring pipeName;
    std::wstring pluginPath;          // empty without a usable catalogue entry
    GUID containerGuid = {};
    DWORD noRecord = 0;               // NO_RECORD_* bits
};

// Derives the device at `path` (as its source builds it).
void DeriveDevice(const std::wstring& path, const CCatalogSnapshot& catalog, CDerivedDevice& device);

} // namespace DeviceIdentity
