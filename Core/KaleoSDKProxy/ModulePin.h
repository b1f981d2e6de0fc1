#pragma once
// Threads of the library hold a reference on it while they run, so the
// host cannot unload the code under them: a thread takes the reference
// before it is created and drops it with FreeLibraryAndExitThread.
#include <windows.h>

namespace ModulePin
{

// Adds a reference to this library; null when it could not be taken.
HMODULE Pin() noexcept;
// This library, without adding a reference.
HMODULE Self() noexcept;

} // namespace ModulePin
