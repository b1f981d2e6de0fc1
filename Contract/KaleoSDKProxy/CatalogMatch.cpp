#include "CatalogMatch.h"

#include "DeviceSources.h"

namespace DeviceIdentity
{

const Common::CCatalogEntry* FindCatalogEntry(const std::vector<Common::CCatalogEntry>& entries, DWORD pid) noexcept
{
    const bool anyEntry = pid == DeviceSources::PID_BROADCAST_770 || pid == DeviceSources::PID_BROADCAST_818;
    for (const auto& entry : entries)
        if (anyEntry || entry.unsignedPid == pid)
            return &entry;
    return nullptr;
}

} // namespace DeviceIdentity
