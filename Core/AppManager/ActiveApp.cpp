#include "AppManager.h"

void CAppManager::UpdateActiveApp(DWORD)
{
}

void CAppManager::AddToPriorityList(std::wstring)
{
}
