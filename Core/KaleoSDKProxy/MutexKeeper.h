#pragma once
// The global mutexes that announce attachments to other processes. A mutex
// belongs to the thread that took it, and the host calls the library from
// whatever thread it likes (its asynchronous calls run on worker threads),
// so one thread of the library creates, holds and releases every one of
// them. That thread runs while it holds at least one mutex and keeps a
// reference on the library meanwhile.
#include <windows.h>

#include "Handles.h"

namespace MutexKeeper
{

// Creates the named mutex, initially owned, on the keeper's thread. The
// handle, or null with the error in `error`.
HANDLE Create(const wchar_t* name, SECURITY_ATTRIBUTES* security, DWORD& error) noexcept;
// Releases and closes a mutex Create gave, on the keeper's thread.
void Release(HANDLE mutex) noexcept;

// Owner of a mutex from Create. Its traits live here rather than in
// Handles.h: the release needs the keeper, which only this library has.
struct KeptMutexTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { Release(h); }
};

} // namespace MutexKeeper

using CKeptMutex = Common::CUniqueResource<MutexKeeper::KeptMutexTraits>;
