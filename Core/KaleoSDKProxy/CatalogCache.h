#pragma once
// The plug-in catalogue as the device manager reads it: loaded again only
// when the install folder or the file's identity (size, last write) has
// changed, so a scan of many devices reads it once.
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "CatalogSnapshot.h"
#include "DeviceCatalog.h"
#include "Locks.h"

class CCatalogCache
{
public:
    // The catalogue as it is now; null only when memory runs out.
    std::shared_ptr<const CCatalogSnapshot> Current() noexcept;

    // Number of times the file was parsed; for tests and benchmarks.
    LONG LoadCount() const noexcept { return m_loads; }

private:
    struct CFileIdentity
    {
        bool present = false;
        ULONGLONG size = 0;
        FILETIME lastWrite = {};
        bool operator==(const CFileIdentity& other) const noexcept;
    };

    static CFileIdentity Identify(const std::wstring& file) noexcept;

    Common::CSrwLock m_lock;
    std::shared_ptr<const CCatalogSnapshot> m_snapshot;
    std::wstring m_installPath;
    CFileIdentity m_identity;
    std::atomic<LONG> m_loads{0};
};
