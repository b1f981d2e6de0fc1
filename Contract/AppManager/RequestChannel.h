#pragma once
// The two registration request channels as apps see them: the request ring
// (a small shared section apps write and the module reads) and the control
// pipe that carries whole registration blocks (_REGISTERDATATYPE).
//
// Ring: a write index (the slot the next request goes to), a reserved word
// and ten slots of {process id, request}. A client fills the slot, then
// advances the index, then pulses the wake-up event.
#include <windows.h>
#include <cstddef>
#include <cstdint>

namespace AppRequests
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

} // namespace AppRequests
