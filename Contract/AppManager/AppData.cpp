#include "AppData.h"

#include <cstring>
#include "LogWriter.h"

namespace Common
{

// A handle held without a view belongs to an attach whose map failed (for
// example a section another process made too small). Both steps then drop
// it and attach by name again, so one failed map does not leave the module
// without the table for the rest of its run.

BOOL CAppData::Open()
{
    if (m_section.IsMapped())
        return FALSE;
    const DWORD opened = m_section.Open(APP_TABLE_NAME, APP_TABLE_SIZE);
    if (opened != ERROR_SUCCESS)
    {
        if (m_section.HasHandle())
            KLOG(LOG_ERROR, L"[AppData] Error mapping file (%d)", opened);
        else
            KLOG(LOG_ERROR, L"[AppData] Error opening file (%d)", opened);
        return FALSE;
    }
    KLOG(LOG_INFO, L"[AppData] File mapped successfully");
    return TRUE;
}

BOOL CAppData::Create()
{
    if (m_section.IsMapped())
        return TRUE;
    bool created = false;
    const DWORD rc = m_section.Create(APP_TABLE_NAME, APP_TABLE_SIZE, &created);
    if (!m_section.HasHandle())
    {
        KLOG(LOG_ERROR, L"[AppData] Error creating file! (%d)", rc);
        return FALSE;
    }
    if (rc != ERROR_SUCCESS)
    {
        KLOG(LOG_ERROR, L"[AppData] Error mapping file! (%d)", rc);
        return FALSE;
    }
    // A section another process made between the open and this call holds
    // live data and is kept as it is.
    if (!created)
    {
        KLOG(LOG_INFO, L"[AppData] File mapped successfully");
        return TRUE;
    }
    std::memset(m_section.View(), 0, APP_TABLE_SIZE);
    KLOG(LOG_INFO, L"[AppData] File created and mapped successfully");
    return TRUE;
}

} // namespace Common
