// The request ring section: attaching, and bounded reads of what clients
// wrote into it.
#include "RequestRing.h"

#include "GlobalSecurity.h"
#include "LogWriter.h"

using namespace Common;

namespace
{
// Shared fields are read once each through these, so a value cannot change
// between its check and its use.
DWORD ReadShared(const uint32_t& field)
{
    return static_cast<DWORD>(*reinterpret_cast<const volatile LONG*>(&field));
}

volatile LONG* SharedWord(uint32_t& field)
{
    return reinterpret_cast<volatile LONG*>(&field);
}
} // namespace

DWORD CAppManagerData::Attach()
{
    m_pData.Reset();
    m_mapping.Reset();

    // A section this call creates comes zero-filled from the system. It is
    // not zeroed again: a client may open it the moment it exists and write
    // a request that a late fill would wipe.
    CHandle mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, REQUEST_RING_NAME));
    if (!mapping)
    {
        CGlobalSecurity security;
        const DWORD built = security.Build();
        if (built != ERROR_SUCCESS)
            return built;
        mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0,
                                           REQUEST_RING_SIZE, REQUEST_RING_NAME));
        const DWORD error = ::GetLastError();
        if (!mapping)
            return error != ERROR_SUCCESS ? error : ERROR_FUNCTION_FAILED;
    }

    CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, REQUEST_RING_SIZE));
    if (!view)
    {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_FUNCTION_FAILED;
    }
    m_mapping = std::move(mapping);
    m_pData = std::move(view);
    return ERROR_SUCCESS;
}

DWORD CAppManagerData::WriteIndex()
{
    _REQUESTRING* ring = Ring();
    if (!ring)
        return 0;
    const DWORD index = ReadShared(ring->dwWriteIndex);
    if (index < REQUEST_RING_SLOTS)
        return index;
    KLOG(LOG_ERROR, L"[AppManager] Request ring write index %lu out of range: reset to 0", index);
    ::InterlockedCompareExchange(SharedWord(ring->dwWriteIndex), 0, static_cast<LONG>(index));
    return 0;
}

bool CAppManagerData::TakeRequest(DWORD index, CRingRequest& request)
{
    _REQUESTRING* ring = Ring();
    if (!ring || index >= REQUEST_RING_SLOTS)
        return false;
    _REQUESTSLOT& slot = ring->slots[index];
    const DWORD processId = ReadShared(slot.dwProcessId);
    if (processId == 0)
        return false;
    request.dwProcessId = processId;
    request.dwRequest = ReadShared(slot.dwRequest);
    // Only if no client has rewritten the slot since it was read.
    ::InterlockedCompareExchange(SharedWord(slot.dwProcessId), 0, static_cast<LONG>(processId));
    return true;
}
