#pragma once
// Change notification by pulsing named events.
#include <windows.h>

namespace Common
{
// Opens the event by name, pulses it and closes it again. A missing event
// is no error: nobody listens.
void PulseNamedEvent(const wchar_t* name) noexcept;
} // namespace Common
