#pragma once
// Whether the broadcast service runs: it holds its presence mutex while it
// does. A mutex this process may not open still exists, so the service runs.
#include <windows.h>

namespace DeviceSources
{

struct CServicePresence
{
    bool running = false;
    // Of opening the mutex as the proxy opens it: 0, ERROR_ACCESS_DENIED
    // (it exists), ERROR_FILE_NOT_FOUND (no service) or another failure.
    DWORD openStatus = ERROR_FILE_NOT_FOUND;
};

CServicePresence FindBroadcastService() noexcept;

} // namespace DeviceSources
