#include "CatalogCache.h"

#include <new>

#include "Registry.h"

bool CCatalogCache::CFileIdentity::operator==(const CFileIdentity& other) const noexcept
{
    return present == other.present && size == other.size &&
           ::CompareFileTime(&lastWrite, &other.lastWrite) == 0;
}

CCatalogCache::CFileIdentity CCatalogCache::Identify(const std::wstring& file) noexcept
{
    CFileIdentity identity;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (::GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data))
    {
        identity.present = true;
        identity.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        identity.lastWrite = data.ftLastWriteTime;
    }
    return identity;
}

std::shared_ptr<const CCatalogSnapshot> CCatalogCache::Current() noexcept
{
    try
    {
        std::wstring installPath;
        if (!Common::GetInstallPath(installPath))
            return std::make_shared<const CCatalogSnapshot>();
        // Identified before the load: a write during the load changes the
        // identity, and the next call loads again.
        const CFileIdentity identity =
            Identify(installPath + L"\\" + Common::DEVICE_CATALOG_FILE);

        Common::CSrwLock::CScopedLock lock(m_lock);
        if (m_snapshot && installPath == m_installPath && identity == m_identity)
            return m_snapshot;

        auto snapshot = std::make_shared<CCatalogSnapshot>();
        snapshot->installPath = installPath;
        Common::CDeviceCatalog catalog;
        snapshot->status = identity.present ? catalog.Load(installPath) : Common::CATALOG_NOT_LOADABLE;
        if (snapshot->status == ERROR_SUCCESS)
            snapshot->entries = catalog.Entries();
        ++m_loads;

        m_snapshot = snapshot;
        m_installPath = installPath;
        m_identity = identity;
        return m_snapshot;
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}
