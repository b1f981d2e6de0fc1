// The client side of the request ring: fill a slot, advance the write index,
// pulse the wake-up event.
#include "AppClient.h"

#include "GlobalSecurity.h"
#include "NamedEvents.h"
#include "RequestChannel.h"
#include "SharedSection.h"

using namespace Common;
using namespace AppRequests;

namespace AppClient
{
namespace
{
// Held by the writers of this tool around a slot write: two apps that read
// the same write index would otherwise fill the same slot and one request
// would be lost.
constexpr wchar_t kRingWriterLock[] = L"Global\\{A06BC00F-C43F-4E0D-8B9A-DDEBDE2D2327}";

// An owned mutex; released (not closed) at the end of the scope.
struct HeldMutexTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::ReleaseMutex(h); }
};
using CHeldMutex = CUniqueResource<HeldMutexTraits>;

DWORD LastErrorOr(DWORD fallback)
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

} // namespace

DWORD SendRingRequest(DWORD processId, DWORD request, DWORD timeoutMs, DWORD* slot)
{
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    CHandle lock(::CreateMutexW(security.Attributes(), FALSE, kRingWriterLock));
    if (!lock)
        return LastErrorOr(ERROR_FUNCTION_FAILED);
    const DWORD waited = ::WaitForSingleObject(lock.Get(), timeoutMs);
    if (waited == WAIT_TIMEOUT)
        return ERROR_TIMEOUT;
    // An abandoned lock belonged to a writer that died: the ring is whole,
    // since the index only moves after the slot is written.
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return LastErrorOr(ERROR_FUNCTION_FAILED);
    CHeldMutex held(lock.Get());

    // Opened, or created as the module does.
    CSharedSection section;
    const DWORD attached = section.OpenOrCreate(REQUEST_RING_NAME, REQUEST_RING_SIZE);
    if (attached != ERROR_SUCCESS)
        return attached;
    _REQUESTRING* ring = section.As<_REQUESTRING>();
    volatile LONG* writeIndex = reinterpret_cast<volatile LONG*>(&ring->dwWriteIndex);

    // An index no slot has (another writer's fault) starts the ring again.
    DWORD index = static_cast<DWORD>(*writeIndex);
    if (index >= REQUEST_RING_SLOTS)
        index = 0;
    ring->slots[index].dwRequest = request;
    ring->slots[index].dwReserved[0] = 0;
    ring->slots[index].dwReserved[1] = 0;
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&ring->slots[index].dwProcessId),
                          static_cast<LONG>(processId));
    // The slot is complete before the index moves (interlocked: full barrier).
    ::InterlockedExchange(writeIndex, static_cast<LONG>((index + 1) % REQUEST_RING_SLOTS));
    held.Reset();

    PulseNamedEvent(REQUEST_RING_EVENT);
    if (slot)
        *slot = index;
    return ERROR_SUCCESS;
}

} // namespace AppClient
