#include "AppData.h"

#include <cstring>
#include "GlobalSecurity.h"
#include "LogWriter.h"

namespace Common
{

BOOL CAppData::Open()
{
    if (m_mapping)
        return FALSE;
    m_mapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, APP_TABLE_NAME));
    if (!m_mapping)
    {
        KLOG(LOG_ERROR, L"[AppData] Error opening file (%d)", ::GetLastError());
        return FALSE;
    }
    m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, APP_TABLE_SIZE));
    if (!m_view)
    {
        KLOG(LOG_ERROR, L"[AppData] Error mapping file (%d)", ::GetLastError());
        return FALSE;
    }
    KLOG(LOG_INFO, L"[AppData] File mapped successfully");
    return TRUE;
}

BOOL CAppData::Create()
{
    if (m_mapping)
    {
        if (m_view)
            return TRUE;
        m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, APP_TABLE_SIZE));
        if (!m_view)
        {
            KLOG(LOG_ERROR, L"[AppData] Error mapping file! (%d)", ::GetLastError());
            return FALSE;
        }
        return TRUE;
    }

    CGlobalSecurity security;
    SECURITY_ATTRIBUTES* attributes = security.Build() == ERROR_SUCCESS ? security.Attributes() : nullptr;
    m_mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0, APP_TABLE_SIZE,
                                         APP_TABLE_NAME));
    if (!m_mapping)
    {
        KLOG(LOG_ERROR, L"[AppData] Error creating file! (%d)", ::GetLastError());
        return FALSE;
    }
    // Another process may have created the section between the open and
    // this call; its content is then live data and must not be wiped.
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, APP_TABLE_SIZE));
    if (!m_view)
        return FALSE;
    if (existed)
    {
        KLOG(LOG_INFO, L"[AppData] File mapped successfully");
        return TRUE;
    }
    std::memset(m_view.Get(), 0, APP_TABLE_SIZE);
    KLOG(LOG_INFO, L"[AppData] File created and mapped successfully");
    return TRUE;
}

} // namespace Common
