#pragma once
// The registration block that apps send to the module over the control pipe.
#include <cstddef>
#include <cstdint>


#pragma pack(push, 4)
// One registration block, as the client library sends it over the control
// pipe. Strings are UTF-16 and, as far as the sender is trusted, terminated
// within their field.
struct _REGISTERDATATYPE
{
    uint32_t dwRequest;      // non-zero: register; 0: unregister
    uint32_t dwProcessId;
    wchar_t szTitle[256];
    wchar_t szDescription[1024];
    wchar_t szAuthor[256];
    wchar_t szContact[256];
    uint32_t dwDevices;      // "DevicesSupported" bits
    uint32_t dwCategory;
};
#pragma pack(pop)

static_assert(sizeof(_REGISTERDATATYPE) == 3600, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, dwProcessId) == 4, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, szTitle) == 8, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, szDescription) == 520, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, szAuthor) == 2568, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, szContact) == 3080, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, dwDevices) == 3592, "registration block layout");
static_assert(offsetof(_REGISTERDATATYPE, dwCategory) == 3596, "registration block layout");

// The part of the block stored as the app's record.
constexpr size_t REGISTER_APPINFO_OFFSET = offsetof(_REGISTERDATATYPE, szTitle);
constexpr size_t REGISTER_APPINFO_SIZE = sizeof(_REGISTERDATATYPE) - REGISTER_APPINFO_OFFSET;
static_assert(REGISTER_APPINFO_SIZE == 3592, "app information block size");
