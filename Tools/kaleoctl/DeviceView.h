#pragma once
// What the proxy derives for a published device, through the proxy's own
// derivation, and whether a proxy starting now would add it: the catalogue
// it would load and the keys its table would hold, filled in the proxy's
// scan order.
#include <windows.h>
#include <map>
#include <string>
#include <vector>

#include "CatalogSnapshot.h"
#include "DeviceDerivation.h"

namespace Devices
{

struct CDeviceView
{
    std::wstring path;   // as the source builds it
    LONG productId = -1; // -1: the path names none
    bool bKey = false;
    DWORD dwKey = 0;
    std::wstring objectName; // the device mutex is "Global\" + this
    std::wstring pipeName;
    std::wstring pluginPath; // empty without a catalogue entry
    GUID containerGuid = {};
    std::wstring skipReasons; // empty: the proxy adds the device
};

class CProxyView
{
public:
    // Reads InstallPath and its Devices.xml as the proxy does.
    void LoadCatalogue();
    std::wstring DescribeCatalogue() const;
    // False when the proxy would add no device at all.
    bool CatalogueUsable() const { return m_bInstalled && m_catalog.status == ERROR_SUCCESS; }

    // Derives the device at `path`; `excluded` is the source's own reason
    // not to add it (empty when the source would). A device the proxy adds
    // takes its key, so a later one with the same key is reported.
    CDeviceView Derive(const std::wstring& path, const std::wstring& label, const std::wstring& excluded);

    unsigned Added() const { return m_added; }
    unsigned Skipped() const { return m_skipped; }

private:
    std::wstring Reasons(const DeviceIdentity::CDerivedDevice& device, const std::wstring& excluded) const;

    bool m_bInstalled = false;
    CCatalogSnapshot m_catalog;
    std::map<DWORD, std::wstring> m_keys; // key -> label of the device holding it
    unsigned m_added = 0;
    unsigned m_skipped = 0;
};

} // namespace Devices
