#pragma once
// The effect rings this module writes for the device side: one class per
// ring kind over a common section writer, and CEffectRings, which holds one
// of each and writes the records of a global effect.
//
// Concurrency: SetGlobalEffect runs on the active-app thread, the request
// threads and the monitor tasks at once. Each ring has its own lock, held
// from reading the write index to advancing it, so writers in this process
// never share a slot, a scratch record or an index step. There is no lock
// against the reader in the device-side process: it tells new records by the
// write index and the tick count.
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EffectKey.h"
#include "EffectLayout.h"
#include "Handles.h"
#include "EffectType.h"
#include "RegisterData.h"
#include "SharedSection.h"
#include "Locks.h"

// One ring section as this process sees it. It attaches at its first write
// (and again at every write until that succeeds); a ring that cannot be
// attached is skipped.
class CEffectRingSection
{
public:
    enum EAttachMode
    {
        ATTACH_OPEN_OR_CREATE,  // created zero-filled when absent; its event pulsed by name
        ATTACH_OPEN_ONLY        // the device side creates it; its event is held once opened
    };
    // Scrambles a record of the ring's slot size in place; null: plain records.
    using ScrambleFn = void (*)(void* record);

    CEffectRingSection(std::wstring sectionName, std::wstring eventName, DWORD sectionSize, DWORD slotSize,
                       EAttachMode mode, ScrambleFn scramble);
    ~CEffectRingSection() = default;
    CEffectRingSection(const CEffectRingSection&) = delete;
    CEffectRingSection& operator=(const CEffectRingSection&) = delete;

    const std::wstring& SectionName() const { return m_sectionName; }
    DWORD SlotSize() const { return m_slotSize; }
    bool IsAttached();

protected:
    // Builds one record with fill (into a zeroed scratch record of the slot
    // size) and writes it: 0, or the error that made the ring be skipped.
    template <typename F>
    DWORD WriteWith(F&& fill) noexcept
    {
        Common::CSrwLock::CScopedLock lock(m_lock);
        const DWORD rc = AttachLocked();
        if (rc != ERROR_SUCCESS)
            return rc;
        std::memset(m_scratch.get(), 0, m_slotSize);
        fill(m_scratch.get());
        CommitLocked();
        return ERROR_SUCCESS;
    }

private:
    DWORD AttachLocked() noexcept;
    void CommitLocked() noexcept;
    void PulseLocked() noexcept;

    const std::wstring m_sectionName;
    const std::wstring m_eventName;
    const DWORD m_sectionSize;
    const DWORD m_slotSize;
    const EAttachMode m_mode;
    const ScrambleFn m_scramble;

    Common::CSrwLock m_lock;  // guards everything below
    Common::CSharedSection m_section;
    Common::CHandle m_event;          // ATTACH_OPEN_ONLY rings only
    std::unique_ptr<uint8_t[]> m_scratch;
};

// A ring of one of the fixed layouts, with its record type and scrambler.
template <typename TRecord, const Effects::CRingLayout& TLayout>
class CKaleoRing : public CEffectRingSection
{
public:
    using _DATATYPE = TRecord;
    static_assert(sizeof(_DATATYPE) == TLayout.slotSize, "record fills its slot");
    static_assert(offsetof(_DATATYPE, ullTickCount) + sizeof(uint64_t) == sizeof(_DATATYPE),
                  "tick count in the last 8 bytes");

    CKaleoRing()
        : CEffectRingSection(TLayout.sectionName, TLayout.eventName, TLayout.sectionSize, TLayout.slotSize,
                             ATTACH_OPEN_OR_CREATE, TLayout.rangeCount != 0 ? &ScrambleThunk : nullptr)
    {
    }

    static const Effects::CRingLayout& Layout() { return TLayout; }

    // Scrambles the record's ranges with the key of its own tick count;
    // applied twice it restores the record. Plain record types: no change.
    static void Encrypt(_DATATYPE* record) noexcept
    {
        if (record)
            Effects::ScrambleRecord(record, sizeof(*record), TLayout.ranges, TLayout.rangeCount,
                                    record->ullTickCount);
    }

    // A record with the device code and the effect type, zero elsewhere.
    DWORD WriteEffect(DWORD deviceCode, Common::_EFFECTYPE effect) noexcept
    {
        return WriteWith([&](uint8_t* record) { FillHeader(record, deviceCode, effect); });
    }
    DWORD WriteEffect(Common::_EFFECTYPE effect) noexcept { return WriteEffect(TLayout.deviceCode, effect); }

    // A record as given; its tick count is replaced by the time of writing.
    DWORD WriteRecord(const _DATATYPE& plain) noexcept
    {
        return WriteWith([&](uint8_t* record) { std::memcpy(record, &plain, sizeof(plain)); });
    }

private:
    static void FillHeader(uint8_t* record, DWORD deviceCode, Common::_EFFECTYPE effect) noexcept
    {
        std::memcpy(record, &deviceCode, sizeof(deviceCode));
        std::memcpy(record + TLayout.effectOffset, &effect, sizeof(effect));
        // Mouse records: word 1 is fixed and the effect type is word 2.
        if (TLayout.effectOffset == 8)
        {
            const DWORD word1 = Effects::MOUSE_RECORD_WORD1;
            std::memcpy(record + 4, &word1, sizeof(word1));
        }
    }
    static void ScrambleThunk(void* record) { Encrypt(static_cast<_DATATYPE*>(record)); }
};

class CKaleoKeyboardData : public CKaleoRing<Effects::_KEYBOARDRECORD, Effects::KEYBOARD_RING> {};
class CKaleoMouseData : public CKaleoRing<Effects::_MOUSERECORD, Effects::MOUSE_RING> {};
class CKaleoHeadsetData : public CKaleoRing<Effects::_HEADSETRECORD, Effects::HEADSET_RING> {};
class CKaleoMousepadData : public CKaleoRing<Effects::_MOUSEPADRECORD, Effects::MOUSEPAD_RING> {};
class CKaleoKeypadData : public CKaleoRing<Effects::_KEYPADRECORD, Effects::KEYPAD_RING> {};
class CKaleoLinkData : public CKaleoRing<Effects::_LINKRECORD, Effects::LINK_RING> {};
class CKaleoHomeLightingData : public CKaleoRing<Effects::_HOMELIGHTINGRECORD, Effects::HOMELIGHTING_RING> {};
// The general ring: one record per global effect, whatever the app supports.
class CKaleoData : public CKaleoRing<Effects::_GENERALRECORD, Effects::GENERAL_RING> {};

// The ring of one device model: opened only, never created; plain records.
class CKaleoModelData : public CEffectRingSection
{
public:
    using _DATATYPE = Effects::_MODELRECORD;

    explicit CKaleoModelData(const Effects::CModelRingRow& row);

    DWORD DeviceCode() const { return m_deviceCode; }
    DWORD WriteEffect(Common::_EFFECTYPE effect) noexcept;

private:
    const DWORD m_deviceCode;
};

// Every ring a global effect goes to.
class CEffectRings
{
public:
    CEffectRings();
    CEffectRings(const CEffectRings&) = delete;
    CEffectRings& operator=(const CEffectRings&) = delete;

    // The records of one global effect, in this order: the device-class
    // rings whose "DevicesSupported" bit is set, home lighting (type 13 when
    // its bit is clear), the six model rings, the general ring. Runs on the
    // calling thread only: it never waits for another thread or task.
    void WriteGlobalEffect(DWORD devicesSupported, Common::_EFFECTYPE effect) noexcept;

    // One record into the headset ring (posted when the last app is gone).
    void WriteHeadsetRecord(DWORD deviceCode, Common::_EFFECTYPE effect) noexcept;

private:
    void WriteModelRings(Common::_EFFECTYPE effect) noexcept;

    CKaleoKeyboardData m_keyboard;
    CKaleoMouseData m_mouse;
    CKaleoHeadsetData m_headset;
    CKaleoMousepadData m_mousepad;
    CKaleoKeypadData m_keypad;
    CKaleoLinkData m_link;
    CKaleoHomeLightingData m_homeLighting;
    CKaleoData m_general;
    std::vector<std::unique_ptr<CKaleoModelData>> m_models;
};
