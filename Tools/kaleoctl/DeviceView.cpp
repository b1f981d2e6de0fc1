#include "DeviceView.h"

#include "CatalogMatch.h"
#include "Console.h"
#include "DeviceIdentity.h"
#include "DeviceKeys.h"
#include "DeviceSources.h"
#include "Registry.h"

namespace Devices
{

void CProxyView::LoadCatalogue()
{
    m_bInstalled = Common::GetInstallPath(m_installPath);
    if (!m_bInstalled)
        return;
    Common::CDeviceCatalog catalogue;
    m_dwStatus = catalogue.Load(m_installPath);
    if (m_dwStatus == ERROR_SUCCESS)
        m_entries = catalogue.Entries();
}

std::wstring CProxyView::DescribeCatalogue() const
{
    if (!m_bInstalled)
        return L"no usable InstallPath: the proxy adds no device (run 'kaleoctl install')";
    const std::wstring file = m_installPath + L"\\" + Common::DEVICE_CATALOG_FILE;
    if (m_dwStatus != ERROR_SUCCESS)
        return Console::Format(L"%s cannot be used (%lu): the proxy adds no device", file.c_str(), m_dwStatus);
    return Console::Format(L"%s, %u entr%s", file.c_str(), static_cast<unsigned>(m_entries.size()),
                           m_entries.size() == 1 ? L"y" : L"ies");
}

CDeviceView CProxyView::Derive(const std::wstring& path, const std::wstring& label, const std::wstring& excluded)
{
    CDeviceView view;
    view.path = path;
    view.productId = DeviceIdentity::ParseProductId(path.c_str());
    view.bKey = DeviceIdentity::MakeDeviceKey(path.c_str(), view.dwKey);
    view.objectName = DeviceIdentity::ExtractInstanceId(path.c_str());
    view.containerGuid = DeviceIdentity::MakeContainerGuid(path.c_str());
    // The proxy takes the product id as unsigned: "none" (-1) matches no entry.
    const DWORD pid = static_cast<DWORD>(view.productId);
    view.pipeName = DeviceSources::IsSpecialPid(pid)
                        ? DeviceIdentity::MakeSpecialPipeName(path.c_str())
                        : DeviceIdentity::MakeBusPipeName(DeviceIdentity::ToUpper(path.c_str()));
    const Common::CCatalogEntry* entry =
        m_dwStatus == ERROR_SUCCESS ? DeviceIdentity::FindCatalogEntry(m_entries, pid) : nullptr;
    if (entry)
        view.pluginPath = Common::MakePluginPath(m_installPath, entry->file);

    view.skipReasons = Reasons(view, entry != nullptr, excluded);
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
std::wstring CProxyView::Reasons(const CDeviceView& view, bool hasEntry, const std::wstring& excluded) const
{
    std::vector<std::wstring> reasons;
    if (!excluded.empty())
        reasons.push_back(excluded);
    if (m_dwStatus != ERROR_SUCCESS)
        reasons.push_back(L"no usable catalogue");
    else if (!hasEntry)
        reasons.push_back(view.productId < 0 ? std::wstring(L"the path names no product id")
                                             : Console::Format(L"no catalogue entry for pid 0x%04lX",
                                                               static_cast<DWORD>(view.productId)));
    if (!view.bKey)
        reasons.push_back(L"the path gives no device key");
    if (reasons.empty())
    {
        const auto taken = m_keys.find(view.dwKey);
        if (taken != m_keys.end())
            reasons.push_back(L"its key is taken by " + taken->second);
    }
    std::wstring text;
    for (const std::wstring& reason : reasons)
        text += (text.empty() ? L"" : L"; ") + reason;
    return text;
}

} // namespace Devices
