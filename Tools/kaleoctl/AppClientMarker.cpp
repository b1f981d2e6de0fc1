// The app's running marker and the name of the process that registers.
#include "AppClient.h"

#include "GlobalSecurity.h"
#include "PathText.h"

using namespace Common;

namespace AppClient
{

DWORD CreateMarker(const std::wstring& name, CHandle& marker)
{
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    marker.Reset(::CreateMutexW(security.Attributes(), TRUE, name.c_str()));
    return marker ? ERROR_SUCCESS : ::GetLastError();
}

std::wstring ProcessFileName(DWORD processId)
{
    CHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return std::wstring();
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &size))
        return std::wstring();
    const std::wstring full(path, size < MAX_PATH ? size : MAX_PATH - 1);
    return Common::FileNamePart(full);
}

} // namespace AppClient
