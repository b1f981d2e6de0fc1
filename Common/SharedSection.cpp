#include "SharedSection.h"

#include <cstdint>

#include "GlobalSecurity.h"

namespace Common
{
namespace
{
DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}
} // namespace

DWORD CSharedSection::Open(const wchar_t* name, DWORD size, DWORD access)
{
    Reset();
    m_mapping.Reset(::OpenFileMappingW(access, FALSE, name));
    if (!m_mapping)
        return LastErrorOr(ERROR_FILE_NOT_FOUND);
    m_size = size;
    m_access = access;
    return MapView();
}

DWORD CSharedSection::Create(const wchar_t* name, DWORD size, bool* created)
{
    Reset();
    CGlobalSecurity security;
    SECURITY_ATTRIBUTES* attributes = security.Build() == ERROR_SUCCESS ? security.Attributes() : nullptr;
    m_mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, size, name));
    if (!m_mapping)
        return LastErrorOr(ERROR_FUNCTION_FAILED);
    // Another process may have made it between our open and this call.
    if (created)
        *created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    m_size = size;
    m_access = FILE_MAP_ALL_ACCESS;
    return MapView();
}

DWORD CSharedSection::OpenOrCreate(const wchar_t* name, DWORD size, bool* created)
{
    if (created)
        *created = false;
    const DWORD opened = Open(name, size, FILE_MAP_ALL_ACCESS);
    if (opened != ERROR_FILE_NOT_FOUND)
        return opened;
    return Create(name, size, created);
}

DWORD CSharedSection::MapView()
{
    if (m_view)
        return ERROR_SUCCESS;
    if (!m_mapping)
        return ERROR_INVALID_HANDLE;
    m_view.Reset(::MapViewOfFile(m_mapping.Get(), m_access, 0, 0, m_size));
    if (!m_view)
        return LastErrorOr(ERROR_FUNCTION_FAILED);
    if (!ViewCovers(m_view.Get(), m_size))
    {
        m_view.Reset();
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

void CSharedSection::Reset()
{
    m_view.Reset();
    m_mapping.Reset();
    m_size = 0;
}

bool ViewCovers(const void* view, size_t size) noexcept
{
    const uint8_t* base = static_cast<const uint8_t*>(view);
    size_t covered = 0;
    while (covered < size)
    {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(base + covered, &info, sizeof(info)) != sizeof(info))
            return false;
        if (info.AllocationBase != view || info.State != MEM_COMMIT || info.RegionSize == 0)
            return false;
        covered += info.RegionSize - static_cast<size_t>(base + covered - static_cast<const uint8_t*>(info.BaseAddress));
    }
    return true;
}

} // namespace Common
