#include "DeviceView.h"

#include "Console.h"
#include "Registry.h"

namespace Devices
{

void CProxyView::LoadCatalogue()
{
    m_bInstalled = Common::GetInstallPath(m_catalog.installPath);
    if (!m_bInstalled)
        return;
    Common::CDeviceCatalog catalogue;
    m_catalog.status = catalogue.Load(m_catalog.installPath);
    if (m_catalog.status == ERROR_SUCCESS)
        m_catalog.entries = catalogue.Entries();
}

std::wstring CProxyView::DescribeCatalogue() const
{
    if (!m_bInstalled)
        return L"no usable InstallPath: the proxy adds no device (run 'kaleoctl install')";
    const std::wstring file = m_catalog.installPath + L"\\" + Common::DEVICE_CATALOG_FILE;
    if (m_catalog.status != ERROR_SUCCESS)
        return Console::Format(L"%s cannot be used (%lu): the proxy adds no device", file.c_str(), m_catalog.status);
    return Console::Format(L"%s, %u entr%s", file.c_str(), static_cast<unsigned>(m_catalog.entries.size()),
                           m_catalog.entries.size() == 1 ? L"y" : L"ies");
}

CDeviceView CProxyView::Derive(const std::wstring& path, const std::wstring& label, const std::wstring& excluded)
{
    DeviceIdentity::CDerivedDevice device;
    DeviceIdentity::DeriveDevice(path, m_catalog, device);
    CDeviceView view;
    view.path = path;
    view.productId = device.productId;
    view.bKey = device.hasKey;
    view.dwKey = device.key;
    view.objectName = device.objectName;
    view.pipeName = device.pipeName;
    view.pluginPath = device.pluginPath;
    view.containerGuid = device.containerGuid;
    view.skipReasons = Reasons(device, excluded);
    if (view.skipReasons.empty())
    {
        m_keys.emplace(view.dwKey, label);
        ++m_added;
    }
    else
        ++m_skipped;
    return view;
}

// Every reason that keeps the device out of the table, the source's first.
std::wstring CProxyView::Reasons(const DeviceIdentity::CDerivedDevice& device, const std::wstring& excluded) const
{
    std::vector<std::wstring> reasons;
    if (!excluded.empty())
        reasons.push_back(excluded);
    if (device.noRecord & DeviceIdentity::NO_RECORD_NO_CATALOGUE)
        reasons.push_back(L"no usable catalogue");
    else if (device.noRecord & DeviceIdentity::NO_RECORD_NO_ENTRY)
        reasons.push_back(device.productId < 0 ? std::wstring(L"the path names no product id")
                                               : Console::Format(L"no catalogue entry for pid 0x%04lX", device.pid));
    if (device.noRecord & DeviceIdentity::NO_RECORD_NO_KEY)
        reasons.push_back(L"the path gives no device key");
    if (reasons.empty())
    {
        const auto taken = m_keys.find(device.key);
        if (taken != m_keys.end())
            reasons.push_back(L"its key is taken by " + taken->second);
    }
    std::wstring text;
    for (const std::wstring& reason : reasons)
        text += (text.empty() ? L"" : L"; ") + reason;
    return text;
}

} // namespace Devices
