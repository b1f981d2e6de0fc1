#include "DeviceRingReader.h"

#include <cstring>
#include <utility>

#include "EffectKey.h"
#include "GlobalSecurity.h"

using namespace Common;

namespace
{
uint32_t Fnv1a(const uint8_t* data, size_t size)
{
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
    {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}
} // namespace

CDeviceRingReader::CDeviceRingReader(const Effects::CRingLayout& layout)
    : m_label(layout.label), m_sectionName(layout.sectionName), m_eventName(layout.eventName),
      m_sectionSize(layout.sectionSize), m_slotSize(layout.slotSize), m_effectOffset(layout.effectOffset),
      m_ranges(layout.ranges), m_rangeCount(layout.rangeCount)
{
}

CDeviceRingReader::CDeviceRingReader(std::wstring label, const Effects::CModelRingRow& row)
    : m_label(std::move(label)), m_sectionName(std::wstring(Effects::MODEL_SECTION_PREFIX) + row.guid),
      m_eventName(std::wstring(Effects::MODEL_EVENT_PREFIX) + row.guid), m_sectionSize(Effects::MODEL_SECTION_SIZE),
      m_slotSize(Effects::MODEL_SLOT_SIZE), m_effectOffset(4), m_ranges(nullptr), m_rangeCount(0)
{
}

DWORD CDeviceRingReader::Open()
{
    // Created here (zero-filled by the system) or taken as the module left
    // it; an existing section smaller than the layout is refused.
    CSharedSection section;
    const DWORD created = section.Create(m_sectionName.c_str(), m_sectionSize);
    if (created != ERROR_SUCCESS)
        return created;
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    // Manual reset: a pulse wakes every reader waiting at that moment.
    CHandle event(::CreateEventW(security.Attributes(), TRUE, FALSE, m_eventName.c_str()));
    if (!event)
        return ::GetLastError();

    m_buffer.assign(m_slotSize, 0);
    m_section = std::move(section);
    m_event = std::move(event);
    Resync();
    const uint32_t raw = ReadIndex();
    m_readIndex = Effects::BoundedSlot(raw);
    return ERROR_SUCCESS;
}

uint32_t CDeviceRingReader::ReadIndex() const
{
    const auto* header = static_cast<const Effects::_RINGHEADER*>(m_section.View());
    return *reinterpret_cast<const volatile uint32_t*>(&header->dwWriteIndex);
}

uint64_t CDeviceRingReader::SlotTick(DWORD slot) const
{
    const uint8_t* base = static_cast<const uint8_t*>(m_section.View());
    return Effects::RecordTickCount(base + Effects::SlotOffset(slot, m_slotSize), m_slotSize);
}

void CDeviceRingReader::Resync()
{
    m_readIndex = 0;
    for (DWORD slot = 0; slot < Effects::RING_SLOTS; ++slot)
        m_lastTick[slot] = SlotTick(slot);
}

bool CDeviceRingReader::Decode(DWORD slot, CRecord& record)
{
    const uint8_t* base = static_cast<const uint8_t*>(m_section.View());
    // Work on a copy: the writer may change the slot while we look at it.
    std::memcpy(m_buffer.data(), base + Effects::SlotOffset(slot, m_slotSize), m_slotSize);
    record.slot = slot;
    record.tickCount = Effects::RecordTickCount(m_buffer.data(), m_slotSize);
    Effects::ScrambleRecord(m_buffer.data(), m_slotSize, m_ranges, m_rangeCount, record.tickCount);
    std::memcpy(&record.deviceCode, m_buffer.data(), sizeof(record.deviceCode));
    std::memcpy(&record.effect, m_buffer.data() + m_effectOffset, sizeof(record.effect));
    record.checksum = Fnv1a(m_buffer.data(), m_slotSize - sizeof(uint64_t));
    return record.tickCount != 0;
}

void CDeviceRingReader::Poll(std::vector<CRecord>& out)
{
    if (!m_section.IsMapped())
        return;
    constexpr DWORD slots = Effects::RING_SLOTS;
    const uint32_t raw = ReadIndex();
    if (raw >= slots)
    {
        if (!m_badIndex)
        {
            m_badIndex = true;
            m_badReported = false;
            m_badValue = raw;
        }
        // The writer goes on at slot 0; what the slots hold now is old.
        Resync();
        return;
    }
    m_badIndex = false;

    const DWORD newest = (raw + slots - 1) % slots;
    DWORD first = m_readIndex;
    DWORD count = (raw + slots - m_readIndex) % slots;
    if (count == 0)
    {
        // Same index: nothing new, or a whole lap since the last look.
        if (SlotTick(newest) == m_lastTick[newest])
            return;
        first = raw;
        count = slots;
    }
    for (DWORD i = 0; i < count; ++i)
    {
        const DWORD slot = (first + i) % slots;
        CRecord record{};
        // A slot whose tick did not change holds a record already seen.
        if (Decode(slot, record) && record.tickCount != m_lastTick[slot])
            out.push_back(record);
        m_lastTick[slot] = record.tickCount;
    }
    m_readIndex = raw;
}

bool CDeviceRingReader::TakeBadIndex(uint32_t& value)
{
    if (!m_badIndex || m_badReported)
        return false;
    m_badReported = true;
    value = m_badValue;
    return true;
}
