#pragma once
// The registration request channels' fixed names and layouts, and the
// request ring the module serves.
//
// The ring is a small shared section that apps write and the module reads:
// a write index (the slot the next request goes to), a reserved word and ten
// slots of {process id, request}. A client fills the slot, advances the index
// and pulses the wake-up event. Every field comes from other processes: the
// module reads each one once, never uses an index that addresses no slot,
// and writes nothing back.
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "Handles.h"

namespace Common
{

constexpr wchar_t REQUEST_RING_NAME[] = L"Global\\{D41D8537-2D95-4AD2-8A77-51DC00946366}";
// Pulsed by clients after they wrote a slot; created (manual reset) or
// opened by the ring server, never reset by it.
constexpr wchar_t REQUEST_RING_EVENT[] = L"Global\\{DA5A60F0-A3C5-4335-A039-BCC6136C61A3}";
// Message pipe carrying whole registration blocks (_REGISTERDATATYPE).
constexpr wchar_t CONTROL_PIPE_NAME[] = L"\\\\.\\pipe\\88756D22-EF7D-4755-8F3C-FAE2CFE2B34A";

constexpr uint32_t REQUEST_RING_SLOTS = 10;
// Request value of a registration; every other value unregisters.
constexpr uint32_t REQUEST_REGISTER = 1;

#pragma pack(push, 4)
struct _REQUESTSLOT
{
    uint32_t dwProcessId;
    uint32_t dwRequest;
    uint32_t dwReserved[2];
};

struct _REQUESTRING
{
    uint32_t dwWriteIndex;  // 0..9 when written by a well-behaved client
    uint32_t dwReserved;
    _REQUESTSLOT slots[REQUEST_RING_SLOTS];
};
#pragma pack(pop)

static_assert(sizeof(_REQUESTSLOT) == 16, "request slot layout");
static_assert(offsetof(_REQUESTSLOT, dwRequest) == 4, "request slot layout");
static_assert(offsetof(_REQUESTSLOT, dwReserved) == 8, "request slot layout");
static_assert(offsetof(_REQUESTRING, dwReserved) == 4, "request ring layout");
static_assert(offsetof(_REQUESTRING, slots) == 8, "request ring layout");
static_assert(sizeof(_REQUESTRING) == 168, "request ring layout");

constexpr DWORD REQUEST_RING_SIZE = sizeof(_REQUESTRING);

} // namespace Common

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
    // section is all zeros). 0 or the Win32 error; on failure the object
    // holds nothing.
    DWORD Attach();
    bool IsValid() const { return m_pData.IsValid(); }

    // The write index, read once from the section into index. False when
    // the ring is not attached or the value addresses no slot.
    bool ReadWriteIndex(DWORD& index) const;
    // Copies all slots, each field read once. False when not attached.
    bool ReadSlots(Common::_REQUESTSLOT (&slots)[Common::REQUEST_RING_SLOTS]) const;

    // The mapped ring; null until attached.
    Common::_REQUESTRING* Ring() const { return static_cast<Common::_REQUESTRING*>(m_pData.Get()); }

private:
    Common::CHandle m_mapping;
    Common::CMappedView m_pData;
};

// What the ring server has taken from the ring so far: the read index and
// each slot's bytes as last seen. A slot holds a new request only when its
// bytes differ from those, so a wake-up without a new write serves nothing,
// whatever the write index says; and ten requests written at once, which
// bring the index back to where it was, are still found. The price: a
// client that writes into a slot the very bytes it held already is taken
// to repeat a request that was served, and is not served again.
class CRingCursor
{
public:
    // Up to one request per slot, in the order the clients wrote them.
    struct CBatch
    {
        CRingRequest requests[Common::REQUEST_RING_SLOTS];
        DWORD count = 0;
    };

    // Starts at the ring as it is now: what was written before is not served.
    void Start(const CAppManagerData& ring);

    // The requests written since the last call. woken: the wake-up event
    // fired, so the writers have finished and every slot may be looked at;
    // otherwise only the slots the write index has passed are complete.
    void TakeNew(const CAppManagerData& ring, bool woken, CBatch& batch);

private:
    // The write index; false (logged once per value) when it addresses no slot.
    bool ReadIndex(const CAppManagerData& ring, DWORD& writeIndex);
    bool IsNew(const Common::_REQUESTSLOT& slot, DWORD index) const;
    // Takes the slots outside the span that was looked at as seen, except
    // those clients may still be writing (writeIndex..laterIndex).
    void MarkSeenOutside(const Common::_REQUESTSLOT (&now)[Common::REQUEST_RING_SLOTS], DWORD writeIndex,
                         DWORD laterIndex);

    DWORD m_readIndex = 0;
    Common::_REQUESTSLOT m_seen[Common::REQUEST_RING_SLOTS] = {};
    DWORD m_badIndex = 0;  // the out-of-range index last reported, so it is logged once
};
