#include "DeviceDerivation.h"

#include "CatalogMatch.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"

namespace DeviceIdentity
{

void DeriveDevice(const std::wstring& path, const CCatalogSnapshot& catalog, CDerivedDevice& device)
{
    device.devicePath = ToUpper(path.c_str());
    device.productId = ParseProductId(path.c_str());
    // "None" (-1) read as unsigned matches no catalogue entry.
    device.pid = static_cast<DWORD>(device.productId);
    device.hasKey = MakeDeviceKey(path.c_str(), device.key);
    device.objectName = ExtractInstanceId(path.c_str());
    device.containerGuid = MakeContainerGuid(path.c_str());
    device.pipeName = DeviceSources::IsSpecialPid(device.pid) ? MakeSpecialPipeName(path.c_str())
                                                              : MakeBusPipeName(device.devicePath);
    device.noRecord = 0;
    if (catalog.status != ERROR_SUCCESS)
        device.noRecord |= NO_RECORD_NO_CATALOGUE;
    const Common::CCatalogEntry* entry =
        catalog.status == ERROR_SUCCESS ? FindCatalogEntry(catalog.entries, device.pid) : nullptr;
    if (entry)
        device.pluginPath = Common::MakePluginPath(catalog.installPath, entry->file);
    else if (catalog.status == ERROR_SUCCESS)
        device.noRecord |= NO_RECORD_NO_ENTRY;
    if (!device.hasKey)
        device.noRecord |= NO_RECORD_NO_KEY;
}

} // namespace DeviceIdentity
