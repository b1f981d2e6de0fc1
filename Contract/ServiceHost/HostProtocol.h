#pragma once
// Messages of the VxSvcHost control pipe. One request message, one reply
// message per connection; both have a fixed layout, since they cross from
// one process to another.
#include <windows.h>
#include <cstddef>

namespace Host
{

constexpr DWORD kHostProtocolMagic = 0x48535856;  // "VXSH"
constexpr DWORD kHostProtocolVersion = 1;

// Modules one host loads at most.
constexpr DWORD kMaxHostModules = 16;
// Readable reply text, in wide characters including the terminator.
constexpr DWORD kHostReplyTextChars = 4096;
// Host names: 1 to 64 characters of letters, digits, '.', '-' and '_'.
constexpr size_t kMaxHostNameChars = 64;

constexpr const wchar_t* kDefaultHostName = L"VxSvcHost";
constexpr const wchar_t* kHostPipePrefix = L"\\\\.\\pipe\\VxSvcHost.";

enum : DWORD
{
    HOST_CMD_NONE = 0,    // in a reply: the request could not be read
    HOST_CMD_STATUS = 1,  // module list and process id
    HOST_CMD_EVENT = 2,   // OnServiceEvent(argument) on every running module, in order
    HOST_CMD_STOP = 3,    // reply, then the clean stop
};

#pragma pack(push, 4)

struct _HOSTREQUEST
{
    DWORD magic;     // kHostProtocolMagic
    DWORD version;   // kHostProtocolVersion
    DWORD command;   // HOST_CMD_*
    DWORD argument;  // event code of HOST_CMD_EVENT, else 0
};

struct _HOSTREPLY
{
    DWORD magic;
    DWORD version;
    DWORD command;       // the request's command, HOST_CMD_NONE if unreadable
    DWORD status;        // Win32 status of the request
    DWORD processId;     // of the host
    DWORD mainThreadId;  // the thread that calls the modules' exports
    DWORD moduleCount;   // entries used in results, at most kMaxHostModules
    DWORD runningMask;   // bit i set: module i initialised successfully
    INT32 results[kMaxHostModules];  // event: OnServiceEvent results; else InitServiceModule results
    WCHAR text[kHostReplyTextChars];  // readable summary, always terminated
};

#pragma pack(pop)

static_assert(sizeof(_HOSTREQUEST) == 16, "request layout is fixed");
static_assert(offsetof(_HOSTREQUEST, command) == 8, "request layout is fixed");
static_assert(offsetof(_HOSTREQUEST, argument) == 12, "request layout is fixed");

static_assert(offsetof(_HOSTREPLY, status) == 12, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, processId) == 16, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, mainThreadId) == 20, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, moduleCount) == 24, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, runningMask) == 28, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, results) == 32, "reply layout is fixed");
static_assert(offsetof(_HOSTREPLY, text) == 32 + 4 * kMaxHostModules, "reply layout is fixed");
static_assert(sizeof(_HOSTREPLY) == 32 + 4 * kMaxHostModules + 2 * kHostReplyTextChars,
              "reply layout is fixed");
static_assert(kMaxHostModules <= 32, "runningMask has one bit per module");

} // namespace Host
