#pragma once
// One effect ring as the device side sees it: opened (or created when
// absent) with its event, and read for the records written since the last
// look. Everything in the section comes from another process, so the write
// index is bounded before it addresses a slot.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "EffectLayout.h"
#include "Handles.h"
#include "SharedSection.h"

class CDeviceRingReader
{
public:
    struct CRecord
    {
        DWORD slot;
        DWORD deviceCode;
        DWORD effect;
        uint64_t tickCount;
        uint32_t checksum;  // FNV-1a of the unscrambled record without its tick count
    };

    // A ring of the fixed layouts.
    explicit CDeviceRingReader(const Effects::CRingLayout& layout);
    // A model ring.
    CDeviceRingReader(std::wstring label, const Effects::CModelRingRow& row);
    CDeviceRingReader(const CDeviceRingReader&) = delete;
    CDeviceRingReader& operator=(const CDeviceRingReader&) = delete;

    // Opens or creates (zero-filled) the section and its event; 0 or the error.
    DWORD Open();

    const std::wstring& Label() const { return m_label; }
    HANDLE Event() const { return m_event.Get(); }

    // Appends the records written since the last call, oldest first. A
    // write index out of range resynchronises: nothing is read until the
    // writer has put a record into slot 0.
    void Poll(std::vector<CRecord>& out);
    // True once after the write index was seen out of range.
    bool TakeBadIndex(uint32_t& value);

private:
    uint32_t ReadIndex() const;
    uint64_t SlotTick(DWORD slot) const;
    void Resync();
    bool Decode(DWORD slot, CRecord& record);

    const std::wstring m_label;
    const std::wstring m_sectionName;
    const std::wstring m_eventName;
    const DWORD m_sectionSize;
    const DWORD m_slotSize;
    const DWORD m_effectOffset;
    const Effects::CByteRange* const m_ranges;
    const DWORD m_rangeCount;

    Common::CSharedSection m_section;
    Common::CHandle m_event;
    std::vector<uint8_t> m_buffer;
    DWORD m_readIndex = 0;
    uint64_t m_lastTick[Effects::RING_SLOTS] = {};
    bool m_badIndex = false;
    bool m_badReported = false;
    uint32_t m_badValue = 0;
};
