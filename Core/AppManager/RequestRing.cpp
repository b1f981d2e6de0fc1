// The request ring section: attaching, bounded reads of what clients wrote
// into it, and the server's record of what it has taken.
#include "RequestRing.h"

#include "LogWriter.h"

using namespace Common;
using namespace AppRequests;

namespace
{
// Shared fields are read once each through these, so a value cannot change
// between its check and its use.
DWORD ReadShared(const uint32_t& field)
{
    return static_cast<DWORD>(*reinterpret_cast<const volatile LONG*>(&field));
}

constexpr DWORD kSlots = REQUEST_RING_SLOTS;

bool SameSlot(const _REQUESTSLOT& a, const _REQUESTSLOT& b)
{
    return a.dwProcessId == b.dwProcessId && a.dwRequest == b.dwRequest &&
           a.dwReserved[0] == b.dwReserved[0] && a.dwReserved[1] == b.dwReserved[1];
}
} // namespace

DWORD CAppManagerData::Attach()
{
    // Opened, or created: a new section comes zero-filled from the system
    // and is not zeroed again, since a client may write a request into it
    // the moment it exists.
    return m_pData.OpenOrCreate(REQUEST_RING_NAME, REQUEST_RING_SIZE);
}

bool CAppManagerData::ReadWriteIndex(DWORD& index) const
{
    const _REQUESTRING* ring = Ring();
    index = ring ? ReadShared(ring->dwWriteIndex) : 0;
    return ring && index < REQUEST_RING_SLOTS;
}

bool CAppManagerData::ReadSlots(_REQUESTSLOT (&slots)[REQUEST_RING_SLOTS]) const
{
    const _REQUESTRING* ring = Ring();
    if (!ring)
        return false;
    for (DWORD i = 0; i < REQUEST_RING_SLOTS; ++i)
    {
        const _REQUESTSLOT& shared = ring->slots[i];
        slots[i].dwProcessId = ReadShared(shared.dwProcessId);
        slots[i].dwRequest = ReadShared(shared.dwRequest);
        slots[i].dwReserved[0] = ReadShared(shared.dwReserved[0]);
        slots[i].dwReserved[1] = ReadShared(shared.dwReserved[1]);
    }
    return true;
}

// ---------------------------------------------------------------------------

void CRingCursor::Start(const CAppManagerData& ring)
{
    DWORD index = 0;
    m_readIndex = ring.ReadWriteIndex(index) ? index : 0;
    ring.ReadSlots(m_seen);
}

bool CRingCursor::IsWritten(const _REQUESTSLOT& slot)
{
    // Process id 0 names no process: a slot nobody wrote yet.
    return slot.dwProcessId != 0;
}

bool CRingCursor::IsNew(const _REQUESTSLOT& slot, DWORD index) const
{
    return IsWritten(slot) && !SameSlot(slot, m_seen[index]);
}

bool CRingCursor::ReadIndex(const CAppManagerData& ring, DWORD& writeIndex)
{
    if (ring.ReadWriteIndex(writeIndex))
    {
        m_badIndex = 0;
        return true;
    }
    if (writeIndex != m_badIndex)
        KLOG(LOG_ERROR, L"[AppManager] Request ring write index %lu out of range: ignored", writeIndex);
    m_badIndex = writeIndex;
    m_indexLost = true;
    return false;
}

void CRingCursor::TakeNew(const CAppManagerData& ring, bool woken, CBatch& batch)
{
    batch.count = 0;
    // The index first: a client writes its slot before it moves the index,
    // so every slot the index has passed is complete in the copy read next.
    DWORD writeIndex = 0;
    const bool indexValid = ReadIndex(ring, writeIndex);
    ::MemoryBarrier();
    _REQUESTSLOT now[kSlots];
    if (!ring.ReadSlots(now))
        return;
    ::MemoryBarrier();
    // Clients may have written on meanwhile: slots from the index read
    // first up to the one it points at now may hold writes in progress.
    DWORD laterIndex = writeIndex;
    if (!indexValid || !ring.ReadWriteIndex(laterIndex))
        laterIndex = writeIndex;

    // The slots to look at, oldest first. Every slot the index has passed
    // holds a request, whatever it held before: a client may well repeat
    // its last request into the same slot. Only where the index has not
    // moved do the slots' bytes speak: a wake-up may follow ten writes that
    // brought the index round, and then the changed slots are served, from
    // the oldest.
    // An index that was out of range told nothing of where the clients
    // wrote meanwhile, so the first move after it is judged by the bytes too.
    DWORD first = m_readIndex;
    DWORD span = 0;
    const bool moved = indexValid && writeIndex != m_readIndex;
    const bool byIndex = moved && !m_indexLost;
    if (indexValid)
        m_indexLost = false;
    if (byIndex)
        span = (writeIndex + kSlots - m_readIndex) % kSlots;
    else if (woken || moved || IsSettledWrap(now))
    {
        first = indexValid ? writeIndex : m_readIndex;
        span = kSlots;
    }
    if (span == 0)
        return;
    m_hasUnsettled = false;

    for (DWORD i = 0; i < span; ++i)
    {
        const DWORD slot = (first + i) % kSlots;
        if (byIndex ? IsWritten(now[slot]) : IsNew(now[slot], slot))
            batch.requests[batch.count++] = CRingRequest{now[slot].dwProcessId, now[slot].dwRequest};
        m_seen[slot] = now[slot];
    }
    if (span != kSlots)
        MarkSeenOutside(now, writeIndex, laterIndex);
    if (indexValid)
        m_readIndex = writeIndex;
}

bool CRingCursor::IsSettledWrap(const _REQUESTSLOT (&now)[kSlots])
{
    // Ten writes made while the server did not wait (their pulses reached
    // nobody) bring the index back to where it was. Changed slots then tell
    // of them; once they have stayed as they are from one look to the next,
    // no client is still writing them, and the whole ring is looked at.
    bool changed = false;
    for (DWORD slot = 0; slot < kSlots && !changed; ++slot)
        changed = IsNew(now[slot], slot);
    if (!changed)
    {
        m_hasUnsettled = false;
        return false;
    }
    bool settled = m_hasUnsettled;
    for (DWORD slot = 0; slot < kSlots && settled; ++slot)
        settled = SameSlot(now[slot], m_unsettled[slot]);
    for (DWORD slot = 0; slot < kSlots; ++slot)
        m_unsettled[slot] = now[slot];
    m_hasUnsettled = true;
    return settled;
}

void CRingCursor::MarkSeenOutside(const _REQUESTSLOT (&now)[kSlots], DWORD writeIndex, DWORD laterIndex)
{
    // Slots outside the span changed only when more than ten requests came
    // between two looks; those were overwritten unserved and count as seen
    // too. Slots with writes in progress are looked at once the index has
    // passed them. Slots of the span are taken again unchanged.
    const DWORD inProgress = (laterIndex + kSlots - writeIndex) % kSlots + 1;
    for (DWORD slot = 0; slot < kSlots; ++slot)
    {
        if ((slot + kSlots - writeIndex) % kSlots >= inProgress)
            m_seen[slot] = now[slot];
    }
}
