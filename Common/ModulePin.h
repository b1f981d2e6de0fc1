#pragma once
// "This module": each module links its own copy, so Self is always the
// caller's library (the exe in the host).
// Rule: a thread holds a reference from before it starts until it ends (CThreadOwner);
// a thread-pool callback gets the pool's own: SetThreadpoolCallbackLibrary(env, Self()).
#include <windows.h>

namespace ModulePin
{

// Adds a reference to this library; null when it could not be taken.
HMODULE Pin() noexcept;
// This library, without adding a reference.
HMODULE Self() noexcept;
// Ends the calling thread and drops the reference Pin took for it, in one
// step, so no code of this library runs once the reference is gone.
[[noreturn]] void ExitPinnedThread(DWORD code) noexcept;

} // namespace ModulePin
