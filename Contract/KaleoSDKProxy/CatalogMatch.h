#pragma once
// Which plug-in catalogue entry serves a device of the proxy.
#include <windows.h>
#include <vector>

#include "DeviceCatalog.h"

namespace DeviceIdentity
{

// The first entry whose "pid" equals the device's product id; a broadcast
// application (770 or 818) takes the first entry whatever its pid. Null
// when none serves it.
const Common::CCatalogEntry* FindCatalogEntry(const std::vector<Common::CCatalogEntry>& entries, DWORD pid) noexcept;

} // namespace DeviceIdentity
