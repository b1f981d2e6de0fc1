#include "AppManager.h"

void CAppManager::UpdateAppList(std::wstring, DWORD, BOOL)
{
}

void CAppManager::ValidateAppsList()
{
}

DWORD CAppManager::DoMonitorProcess(DWORD)
{
    return ERROR_SUCCESS;
}
