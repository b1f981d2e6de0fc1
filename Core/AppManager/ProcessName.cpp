#include "ProcessName.h"

#include <cwchar>

#include "Handles.h"

bool QueryProcessImage(HANDLE process, std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!::QueryFullProcessImageNameW(process, 0, buffer, &size))
        return false;
    path.assign(buffer, size < MAX_PATH ? size : MAX_PATH - 1);
    return true;
}

void CopyToField(wchar_t* field, size_t chars, const std::wstring& text)
{
    if (chars == 0)
        return;
    const size_t n = text.size() < chars - 1 ? text.size() : chars - 1;
    std::wmemcpy(field, text.data(), n);
    std::wmemset(field + n, L'\0', chars - n);
}

std::wstring FieldText(const wchar_t* field, size_t chars)
{
    return std::wstring(field, ::wcsnlen(field, chars));
}

Common::CHandle OpenLiveProcess(DWORD processId)
{
    Common::CHandle process(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (process && ::WaitForSingleObject(process.Get(), 0) != WAIT_TIMEOUT)
    {
        process.Reset();
        ::SetLastError(ERROR_INVALID_PARAMETER);
    }
    return process;
}

bool IsProcessAlive(DWORD processId)
{
    return OpenLiveProcess(processId).IsValid();
}
