#pragma once
// Threads of a module (the proxy library's readers and monitors, a device
// manager's worker) hold a reference on it while they run, so the host
// cannot unload the code under them: a thread takes the reference before
// it is created and drops it with FreeLibraryAndExitThread. Each module
// links its own copy, so "this library" is always the caller's.
#include <windows.h>

namespace ModulePin
{

// Adds a reference to this library; null when it could not be taken.
HMODULE Pin() noexcept;
// This library, without adding a reference.
HMODULE Self() noexcept;

} // namespace ModulePin
