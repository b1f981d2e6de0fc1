#include "ServicePresence.h"

#include "DeviceSources.h"
#include "Handles.h"

namespace DeviceSources
{

CServicePresence FindBroadcastService() noexcept
{
    CServicePresence presence;
    Common::CHandle mutex(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, BROADCAST_PRESENCE_MUTEX));
    presence.openStatus = mutex ? ERROR_SUCCESS : ::GetLastError();
    presence.running = presence.openStatus == ERROR_SUCCESS || presence.openStatus == ERROR_ACCESS_DENIED;
    return presence;
}

} // namespace DeviceSources
