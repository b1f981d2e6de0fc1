#include "AppManager.h"

// Request ring server. Serves nothing yet: waits for the stop.
DWORD CAppManager::DoMonitorRegister()
{
    ::WaitForSingleObject(m_stopEvent.Get(), INFINITE);
    return ERROR_SUCCESS;
}

// Control pipe server. Serves nothing yet: waits for the stop.
DWORD CAppManager::DoMonitorRegister2()
{
    ::WaitForSingleObject(m_stopEvent.Get(), INFINITE);
    return ERROR_SUCCESS;
}
