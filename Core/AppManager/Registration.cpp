#include "AppManager.h"

BOOL CAppManager::Register(const _REGISTERDATATYPE*)
{
    return FALSE;
}

BOOL CAppManager::Register(DWORD)
{
    return FALSE;
}

BOOL CAppManager::Unregister(DWORD)
{
    return FALSE;
}

DWORD CAppManager::GetProcessFileName(DWORD, wchar_t*)
{
    return 0;
}
