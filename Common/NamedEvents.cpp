#include "NamedEvents.h"

#include "Handles.h"

namespace Common
{
void PulseNamedEvent(const wchar_t* name) noexcept
{
    // Pulsing needs nothing more than modify access.
    CHandle event(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name));
    if (event)
        ::PulseEvent(event.Get());
}
} // namespace Common
