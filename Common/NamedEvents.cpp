#include "NamedEvents.h"

#include "Handles.h"

namespace Common
{
void PulseNamedEvent(const wchar_t* name) noexcept
{
    CHandle event(::OpenEventW(EVENT_ALL_ACCESS, FALSE, name));
    if (event)
        ::PulseEvent(event.Get());
}
} // namespace Common
