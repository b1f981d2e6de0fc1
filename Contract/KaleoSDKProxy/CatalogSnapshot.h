#pragma once
// The plug-in catalogue as one scan of the proxy sees it: read once, then
// used for every device the scan derives.
#include <windows.h>
#include <string>
#include <vector>

#include "DeviceCatalog.h"

struct CCatalogSnapshot
{
    DWORD status = ERROR_FUNCTION_FAILED; // 0 when the entries below are usable
    std::wstring installPath;
    std::vector<Common::CCatalogEntry> entries;
};
