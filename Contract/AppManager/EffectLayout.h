#pragma once
// The effect rings the device side reads: section and event names, sizes,
// record layouts, device codes and scrambled byte ranges. Header-only, so
// the module and the device-side stand-in of the operator tool share one
// definition of every byte that crosses the process boundary.
//
// A ring is one named section: a 32-bit write index (0..9, the slot the next
// record goes to), a reserved word, ten fixed-size slots and, for the seven
// device-class rings, a trailing area only the device side uses. Every record
// starts with its device code and ends with the 64-bit tick count of its
// writing.
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "EffectType.h"

namespace Effects
{

constexpr DWORD RING_SLOTS = 10;
constexpr DWORD RING_HEADER_SIZE = 8;
// Follows the slots of the keyboard, mouse, headset, mouse pad, keypad,
// accessory and home-lighting rings.
constexpr DWORD RING_TRAILING_SIZE = 10400;

// "DevicesSupported" bits of an app record.
constexpr DWORD DEVICE_KEYBOARD = 0x01;
constexpr DWORD DEVICE_MOUSE = 0x02;
constexpr DWORD DEVICE_HEADSET = 0x04;
constexpr DWORD DEVICE_MOUSEPAD = 0x08;
constexpr DWORD DEVICE_KEYPAD = 0x10;
constexpr DWORD DEVICE_LINK = 0x20;
constexpr DWORD DEVICE_HOMELIGHTING = 0x80;

// Device codes: class in the high 16 bits, 0xFFFF (all models) or a model
// number in the low 16 bits.
constexpr DWORD CODE_KEYBOARD = 0x1FFFF;
constexpr DWORD CODE_MOUSE = 0x2FFFF;
constexpr DWORD CODE_HEADSET = 0x4FFFF;
constexpr DWORD CODE_MOUSEPAD = 0x8FFFF;
constexpr DWORD CODE_KEYPAD = 0x10FFFF;
constexpr DWORD CODE_LINK = 0x80FFFF;
constexpr DWORD CODE_HOMELIGHTING = 0x1000FFFF;
constexpr DWORD CODE_GENERAL = 0x800F1F;
// Headset record posted when the last app has gone.
constexpr DWORD CODE_HEADSET_LAST_APP = 0x40510;

// Word 1 of every mouse record.
constexpr DWORD MOUSE_RECORD_WORD1 = 0x3F0FFF;

// Pulsed after the rings were written: lighting released (types 13 and 11),
// and a global effect was set (every call).
constexpr wchar_t RELEASED_EVENT[] = L"Global\\{EA0E2D9B-1C72-40C1-A902-03603782B34B}";
constexpr wchar_t GLOBAL_EFFECT_EVENT[] = L"Global\\{1BEF2157-2FB7-45B0-A48E-B0C661C6375D}";

#pragma pack(push, 4)
struct _RINGHEADER
{
    uint32_t dwWriteIndex;
    uint32_t dwReserved;
};

struct _KEYBOARDRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[64];
    uint8_t keys[2884];      // scrambled
    uint8_t reserved1[4];
    uint64_t ullTickCount;
};

struct _MOUSERECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwWord1;        // MOUSE_RECORD_WORD1
    uint32_t dwEffect;
    uint8_t reserved0[24];
    uint8_t zones[372];      // scrambled
    uint8_t reserved1[16];
    uint8_t zones2[4];       // scrambled
    uint8_t reserved2[12];
    uint64_t ullTickCount;
};

struct _HEADSETRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[16];
    uint8_t zones[20];       // scrambled
    uint8_t reserved1[4];
    uint8_t zones2[4];       // scrambled
    uint8_t reserved2[4];
    uint64_t ullTickCount;
};

struct _MOUSEPADRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[32];
    uint8_t zones[144];      // scrambled
    uint64_t ullTickCount;
};

struct _KEYPADRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[16];
    uint8_t keys[80];        // scrambled
    uint8_t reserved1[16];
    uint8_t keys2[4];        // scrambled
    uint8_t reserved2[12];
    uint64_t ullTickCount;
};

struct _LINKRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[16];
    uint8_t lights[200];     // scrambled
    uint8_t reserved1[4];
    uint8_t lights2[4];      // scrambled
    uint64_t ullTickCount;
};

struct _HOMELIGHTINGRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint64_t ullTickCount;
};

struct _GENERALRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved0[24];
    uint8_t data[3600];      // scrambled
    uint8_t reserved1[24];
    uint8_t data2[4];        // scrambled
    uint8_t reserved2[160036];
    uint64_t ullTickCount;
};

struct _MODELRECORD
{
    uint32_t dwDeviceCode;
    uint32_t dwEffect;
    uint8_t reserved[163608];
    uint64_t ullTickCount;
};
#pragma pack(pop)

static_assert(sizeof(_RINGHEADER) == RING_HEADER_SIZE, "ring header layout");

static_assert(sizeof(_KEYBOARDRECORD) == 2968, "keyboard record layout");
static_assert(offsetof(_KEYBOARDRECORD, dwEffect) == 4, "keyboard record layout");
static_assert(offsetof(_KEYBOARDRECORD, keys) == 72, "keyboard record layout");
static_assert(offsetof(_KEYBOARDRECORD, ullTickCount) == 2960, "keyboard record layout");

static_assert(sizeof(_MOUSERECORD) == 448, "mouse record layout");
static_assert(offsetof(_MOUSERECORD, dwWord1) == 4, "mouse record layout");
static_assert(offsetof(_MOUSERECORD, dwEffect) == 8, "mouse record layout");
static_assert(offsetof(_MOUSERECORD, zones) == 36, "mouse record layout");
static_assert(offsetof(_MOUSERECORD, zones2) == 424, "mouse record layout");
static_assert(offsetof(_MOUSERECORD, ullTickCount) == 440, "mouse record layout");

static_assert(sizeof(_HEADSETRECORD) == 64, "headset record layout");
static_assert(offsetof(_HEADSETRECORD, zones) == 24, "headset record layout");
static_assert(offsetof(_HEADSETRECORD, zones2) == 48, "headset record layout");
static_assert(offsetof(_HEADSETRECORD, ullTickCount) == 56, "headset record layout");

static_assert(sizeof(_MOUSEPADRECORD) == 192, "mouse pad record layout");
static_assert(offsetof(_MOUSEPADRECORD, zones) == 40, "mouse pad record layout");
static_assert(offsetof(_MOUSEPADRECORD, ullTickCount) == 184, "mouse pad record layout");

static_assert(sizeof(_KEYPADRECORD) == 144, "keypad record layout");
static_assert(offsetof(_KEYPADRECORD, keys) == 24, "keypad record layout");
static_assert(offsetof(_KEYPADRECORD, keys2) == 120, "keypad record layout");
static_assert(offsetof(_KEYPADRECORD, ullTickCount) == 136, "keypad record layout");

static_assert(sizeof(_LINKRECORD) == 240, "accessory record layout");
static_assert(offsetof(_LINKRECORD, lights) == 24, "accessory record layout");
static_assert(offsetof(_LINKRECORD, lights2) == 228, "accessory record layout");
static_assert(offsetof(_LINKRECORD, ullTickCount) == 232, "accessory record layout");

static_assert(sizeof(_HOMELIGHTINGRECORD) == 16, "home-lighting record layout");
static_assert(offsetof(_HOMELIGHTINGRECORD, ullTickCount) == 8, "home-lighting record layout");

static_assert(sizeof(_GENERALRECORD) == 163704, "general record layout");
static_assert(offsetof(_GENERALRECORD, data) == 32, "general record layout");
static_assert(offsetof(_GENERALRECORD, data2) == 3656, "general record layout");
static_assert(offsetof(_GENERALRECORD, ullTickCount) == 163696, "general record layout");

static_assert(sizeof(_MODELRECORD) == 163624, "model record layout");
static_assert(offsetof(_MODELRECORD, ullTickCount) == 163616, "model record layout");

// An inclusive, word-aligned byte range of a record.
struct CByteRange
{
    uint32_t first;
    uint32_t last;
};

inline constexpr CByteRange KEYBOARD_RANGES[] = {{72, 2955}};
inline constexpr CByteRange MOUSE_RANGES[] = {{36, 407}, {424, 427}};
inline constexpr CByteRange HEADSET_RANGES[] = {{24, 43}, {48, 51}};
inline constexpr CByteRange MOUSEPAD_RANGES[] = {{40, 183}};
inline constexpr CByteRange KEYPAD_RANGES[] = {{24, 103}, {120, 123}};
inline constexpr CByteRange LINK_RANGES[] = {{24, 223}, {228, 231}};
inline constexpr CByteRange GENERAL_RANGES[] = {{32, 3631}, {3656, 3659}};

// Everything a writer or reader needs to know about one ring.
struct CRingLayout
{
    const wchar_t* label;        // short name for logs and tools
    const wchar_t* sectionName;
    const wchar_t* eventName;
    DWORD sectionSize;
    DWORD slotSize;              // == record size
    DWORD trailingSize;
    DWORD deviceCode;
    DWORD devicesBit;            // 0: written regardless of "DevicesSupported"
    DWORD effectOffset;          // where the effect type sits in the record
    const CByteRange* ranges;    // scrambled ranges; null for plain records
    DWORD rangeCount;
};

template <size_t N>
constexpr DWORD RangeCount(const CByteRange (&)[N])
{
    return static_cast<DWORD>(N);
}

inline constexpr CRingLayout KEYBOARD_RING = {
    L"keyboard", L"Global\\{74164FAD-E73C-4FA1-A9AA-70813315ED9C}", L"Global\\{45C97C2C-2D50-4F30-B50E-AFBB1CE22E93}",
    40088, sizeof(_KEYBOARDRECORD), RING_TRAILING_SIZE, CODE_KEYBOARD, DEVICE_KEYBOARD, 4,
    KEYBOARD_RANGES, RangeCount(KEYBOARD_RANGES)};
inline constexpr CRingLayout MOUSE_RING = {
    L"mouse", L"Global\\{0DBE78AC-AC93-408F-A27E-8F61EA067B05}", L"Global\\{0DB0CEFA-C51E-4255-87FB-2D36A0159896}",
    14888, sizeof(_MOUSERECORD), RING_TRAILING_SIZE, CODE_MOUSE, DEVICE_MOUSE, 8,
    MOUSE_RANGES, RangeCount(MOUSE_RANGES)};
inline constexpr CRingLayout HEADSET_RING = {
    L"headset", L"Global\\{CDB274E2-C50A-4425-8076-1E71550CBE8A}", L"Global\\{9FE422BE-A752-4F67-9EC6-11ED6135478E}",
    11048, sizeof(_HEADSETRECORD), RING_TRAILING_SIZE, CODE_HEADSET, DEVICE_HEADSET, 4,
    HEADSET_RANGES, RangeCount(HEADSET_RANGES)};
inline constexpr CRingLayout MOUSEPAD_RING = {
    L"mousepad", L"Global\\{17EFA16B-E476-4E43-A98A-3AA837681741}", L"Global\\{A966C3C0-231A-4BE5-9C90-5E0C80349891}",
    12328, sizeof(_MOUSEPADRECORD), RING_TRAILING_SIZE, CODE_MOUSEPAD, DEVICE_MOUSEPAD, 4,
    MOUSEPAD_RANGES, RangeCount(MOUSEPAD_RANGES)};
inline constexpr CRingLayout KEYPAD_RING = {
    L"keypad", L"Global\\{0FFE5A62-387E-4360-95A3-5D8D4075780D}", L"Global\\{5C49A446-0B97-46CA-BD60-EE5CAF8DDD59}",
    11848, sizeof(_KEYPADRECORD), RING_TRAILING_SIZE, CODE_KEYPAD, DEVICE_KEYPAD, 4,
    KEYPAD_RANGES, RangeCount(KEYPAD_RANGES)};
inline constexpr CRingLayout LINK_RING = {
    L"link", L"Global\\{8AE08F8C-BE3E-4248-AB01-0B595960EC3E}", L"Global\\{4D006319-9569-4E38-B0DF-811AA2DF115F}",
    12808, sizeof(_LINKRECORD), RING_TRAILING_SIZE, CODE_LINK, DEVICE_LINK, 4,
    LINK_RANGES, RangeCount(LINK_RANGES)};
inline constexpr CRingLayout HOMELIGHTING_RING = {
    L"home", L"Global\\{D42A3EF5-1B8D-4055-B42F-C5D34A9CA4E4}", L"Global\\{416FA77A-EC97-44AA-9C3C-DFEA2AC245D3}",
    10568, sizeof(_HOMELIGHTINGRECORD), RING_TRAILING_SIZE, CODE_HOMELIGHTING, DEVICE_HOMELIGHTING, 4,
    nullptr, 0};
inline constexpr CRingLayout GENERAL_RING = {
    L"general", L"Global\\{735A64EB-02D2-498D-954E-23FC11A050A9}", L"Global\\{FFED75C2-17DC-4886-AA2C-DBAF1F662351}",
    1637048, sizeof(_GENERALRECORD), 0, CODE_GENERAL, 0, 4,
    GENERAL_RANGES, RangeCount(GENERAL_RANGES)};

// The eight rings every effect goes to, in the order they are written.
inline constexpr const CRingLayout* EFFECT_RINGS[] = {&KEYBOARD_RING, &MOUSE_RING, &HEADSET_RING, &MOUSEPAD_RING,
                                                      &KEYPAD_RING, &LINK_RING, &HOMELIGHTING_RING, &GENERAL_RING};

// Model rings: one per single device model, created by the device side and
// only opened by the module. Section "Global\" + GUID, event
// "Global\event_" + GUID; plain records.
constexpr DWORD MODEL_RING_COUNT = 6;
constexpr DWORD MODEL_SECTION_SIZE = 1636248;
constexpr DWORD MODEL_SLOT_SIZE = sizeof(_MODELRECORD);

struct CModelRingRow
{
    const wchar_t* guid;         // registry form, with braces
    DWORD deviceCode;
};

// The models this SDK build knows.
inline constexpr CModelRingRow MODEL_RINGS[MODEL_RING_COUNT] = {
    {L"{D0FCFECD-AD3A-42F9-8C23-33EDB42C510E}", 0x10101},   // keyboard, model 0x0101
    {L"{179A1919-CF69-4211-A988-BAD05CC6D356}", 0x10102},   // keyboard, model 0x0102
    {L"{7ADBFD95-28C2-4FFD-8110-843D368C8C43}", 0x20201},   // mouse, model 0x0201
    {L"{22BA1D5E-AC7E-4FCF-B8BE-3D2D4A66D1C9}", 0x40510},   // headset, model 0x0510
    {L"{3E139694-80F1-4346-B282-BF68867FABC3}", 0x80801},   // mouse pad, model 0x0801
    {L"{4B4FC9B8-0E88-4D54-81C4-B443FDCD8379}", 0x101001},  // keypad, model 0x1001
};

constexpr wchar_t MODEL_SECTION_PREFIX[] = L"Global\\";
constexpr wchar_t MODEL_EVENT_PREFIX[] = L"Global\\event_";

// Byte offset of a slot in its ring.
constexpr size_t SlotOffset(DWORD slot, DWORD slotSize)
{
    return RING_HEADER_SIZE + static_cast<size_t>(slot) * slotSize;
}

// Slot of a write index read from shared memory: another process may have
// written anything there, and an index outside 0..9 never addresses a slot.
constexpr DWORD BoundedSlot(uint32_t writeIndex)
{
    return writeIndex < RING_SLOTS ? writeIndex : 0;
}

// Write index after a record went into `slot` (0..9).
constexpr uint32_t NextWriteIndex(DWORD slot)
{
    return slot >= RING_SLOTS - 1 ? 0 : slot + 1;
}

namespace Detail
{
constexpr bool RangesFit(const CRingLayout& ring)
{
    for (DWORD i = 0; i < ring.rangeCount; ++i)
    {
        const CByteRange& r = ring.ranges[i];
        if (r.first % 4 != 0 || (r.last + 1) % 4 != 0 || r.first > r.last)
            return false;
        // Never into the tick count: the reader derives the key from it.
        if (r.last >= ring.slotSize - sizeof(uint64_t))
            return false;
        if (i > 0 && r.first <= ring.ranges[i - 1].last)
            return false;
    }
    return true;
}

constexpr bool SizesAdd(const CRingLayout& ring)
{
    return ring.sectionSize == RING_HEADER_SIZE + RING_SLOTS * ring.slotSize + ring.trailingSize;
}
} // namespace Detail

static_assert(Detail::SizesAdd(KEYBOARD_RING) && Detail::RangesFit(KEYBOARD_RING), "keyboard ring layout");
static_assert(Detail::SizesAdd(MOUSE_RING) && Detail::RangesFit(MOUSE_RING), "mouse ring layout");
static_assert(Detail::SizesAdd(HEADSET_RING) && Detail::RangesFit(HEADSET_RING), "headset ring layout");
static_assert(Detail::SizesAdd(MOUSEPAD_RING) && Detail::RangesFit(MOUSEPAD_RING), "mouse pad ring layout");
static_assert(Detail::SizesAdd(KEYPAD_RING) && Detail::RangesFit(KEYPAD_RING), "keypad ring layout");
static_assert(Detail::SizesAdd(LINK_RING) && Detail::RangesFit(LINK_RING), "accessory ring layout");
static_assert(Detail::SizesAdd(HOMELIGHTING_RING) && Detail::RangesFit(HOMELIGHTING_RING), "home-lighting ring layout");
static_assert(Detail::SizesAdd(GENERAL_RING) && Detail::RangesFit(GENERAL_RING), "general ring layout");
static_assert(MODEL_SECTION_SIZE == RING_HEADER_SIZE + RING_SLOTS * MODEL_SLOT_SIZE, "model ring layout");

} // namespace Effects
