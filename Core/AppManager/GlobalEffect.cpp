#include "AppManager.h"

void CAppManager::SetGlobalEffect(Common::_EFFECTYPE, std::wstring)
{
}

DWORD CAppManager::DoMonitorActiveApp(DWORD*)
{
    ::WaitForSingleObject(m_stopEvent.Get(), INFINITE);
    return ERROR_SUCCESS;
}
