#pragma once
// The request ring the module serves (its layout and names are in
// RequestChannel.h). Every field comes from other processes: the module
// reads each one once, never uses an index that addresses no slot, and
// writes nothing back.
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "Handles.h"
#include "RequestChannel.h"
#include "SharedSection.h"


// One request as the server takes it out of a slot.
struct CRingRequest
{
    DWORD dwProcessId = 0;
    DWORD dwRequest = 0;
};

// The request ring section, as the module sees it: attached, and read with
// every field bounded. The module never writes into it; the ring belongs to
// its clients.
class CAppManagerData
{
public:
    CAppManagerData() = default;
    CAppManagerData(const CAppManagerData&) = delete;
    CAppManagerData& operator=(const CAppManagerData&) = delete;

    // Opens the section, or creates it (global-object security; a new
    // section is all zeros). 0 or the Win32 error; on failure no view is
    // held.
    DWORD Attach();
    bool IsValid() const { return m_pData.IsMapped(); }

    // The write index, read once from the section into index. False when
    // the ring is not attached or the value addresses no slot.
    bool ReadWriteIndex(DWORD& index) const;
    // Copies all slots, each field read once. False when not attached.
    bool ReadSlots(AppRequests::_REQUESTSLOT (&slots)[AppRequests::REQUEST_RING_SLOTS]) const;

    // The mapped ring; null until attached.
    AppRequests::_REQUESTRING* Ring() const { return m_pData.As<AppRequests::_REQUESTRING>(); }

private:
    Common::CSharedSection m_pData;  // the section and its view
};

// What the ring server has taken from the ring so far: the read index and
// each slot's bytes as last seen. Every slot the write index has passed is
// served, whatever it held before, so an app that repeats a request into
// the same slot is served again. Only where the index has not moved are the
// bytes compared: a stray wake-up with unchanged slots serves nothing, and
// ten requests written at once, which bring the index back to where it
// was, are still found by their changed slots.
class CRingCursor
{
public:
    // Up to one request per slot, in the order the clients wrote them.
    struct CBatch
    {
        CRingRequest requests[AppRequests::REQUEST_RING_SLOTS];
        DWORD count = 0;
    };

    // Starts at the ring as it is now: what was written before is not served.
    void Start(const CAppManagerData& ring);

    // The requests written since the last call. woken: the wake-up event
    // fired, so the writers have finished and every slot may be looked at;
    // otherwise only the slots the write index has passed are complete, and
    // a ring whose index came full circle unseen is looked at whole once its
    // changed slots stayed the same from one call to the next.
    void TakeNew(const CAppManagerData& ring, bool woken, CBatch& batch);

private:
    // The write index; false (logged once per value) when it addresses no slot.
    bool ReadIndex(const CAppManagerData& ring, DWORD& writeIndex);
    static bool IsWritten(const AppRequests::_REQUESTSLOT& slot);
    bool IsNew(const AppRequests::_REQUESTSLOT& slot, DWORD index) const;
    // Takes the slots outside the span that was looked at as seen, except
    // those clients may still be writing (writeIndex..laterIndex).
    void MarkSeenOutside(const AppRequests::_REQUESTSLOT (&now)[AppRequests::REQUEST_RING_SLOTS], DWORD writeIndex,
                         DWORD laterIndex);

    // True when slots changed without a move of the index or a wake-up, and
    // hold the same bytes as at the last such look (kept in m_unsettled).
    bool IsSettledWrap(const AppRequests::_REQUESTSLOT (&now)[AppRequests::REQUEST_RING_SLOTS]);

    DWORD m_readIndex = 0;
    AppRequests::_REQUESTSLOT m_unsettled[AppRequests::REQUEST_RING_SLOTS] = {};
    bool m_hasUnsettled = false;
    AppRequests::_REQUESTSLOT m_seen[AppRequests::REQUEST_RING_SLOTS] = {};
    DWORD m_badIndex = 0;  // the out-of-range index last reported, so it is logged once
    bool m_indexLost = false;  // the index was out of range since the last valid look
};
