#include "AppManager.h"

void CAppManager::SetAppInfo(_REGISTERDATATYPE)
{
}

void CAppManager::LoadAppInfo(DWORD, std::wstring)
{
}

void CAppManager::WriteAppRecord(const void*, std::wstring)
{
}

void CAppManager::ReadAppInfoFile(DWORD, std::wstring)
{
}
