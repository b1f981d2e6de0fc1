// Attaching and writing the effect rings.
#include "EffectRings.h"

#include <new>
#include <utility>

#include "LogWriter.h"
#include "NamedEvents.h"

using namespace Common;

// ---------------------------------------------------------------------------

CEffectRingSection::CEffectRingSection(std::wstring sectionName, std::wstring eventName, DWORD sectionSize,
                                       DWORD slotSize, EAttachMode mode, ScrambleFn scramble)
    : m_sectionName(std::move(sectionName)), m_eventName(std::move(eventName)), m_sectionSize(sectionSize),
      m_slotSize(slotSize), m_mode(mode), m_scramble(scramble)
{
}

bool CEffectRingSection::IsAttached()
{
    CSrwLock::CScopedLock lock(m_lock);
    return m_section.IsMapped();
}

DWORD CEffectRingSection::AttachLocked() noexcept
{
    if (m_section.IsMapped())
        return ERROR_SUCCESS;
    // The slots must lie inside the section whatever the caller passed.
    if (m_slotSize < sizeof(uint64_t) ||
        Effects::SlotOffset(Effects::RING_SLOTS, m_slotSize) > static_cast<size_t>(m_sectionSize))
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[m_slotSize]);
    if (!scratch)
        return ERROR_NOT_ENOUGH_MEMORY;

    // A ring made here comes zero-filled from the system, as the device
    // side expects of a new ring.
    CSharedSection section;
    const DWORD rc = m_mode == ATTACH_OPEN_ONLY ? section.Open(m_sectionName.c_str(), m_sectionSize)
                                                : section.OpenOrCreate(m_sectionName.c_str(), m_sectionSize);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (m_mode == ATTACH_OPEN_ONLY && !m_event)
        m_event.Reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, m_eventName.c_str()));
    m_section = std::move(section);
    m_scratch = std::move(scratch);
    return ERROR_SUCCESS;
}

void CEffectRingSection::CommitLocked() noexcept
{
    uint8_t* base = m_section.As<uint8_t>();
    auto* header = reinterpret_cast<Effects::_RINGHEADER*>(base);
    // The index lives in shared memory: read it once, and never address a
    // slot with a value outside 0..9.
    const uint32_t rawIndex = *reinterpret_cast<volatile uint32_t*>(&header->dwWriteIndex);
    const DWORD slot = Effects::BoundedSlot(rawIndex);
    if (slot != rawIndex)
        KLOG(LOG_WARN, L"[AppManager] Ring %s: write index %u out of range, slot 0 used", m_sectionName.c_str(),
             rawIndex);

    uint8_t* target = base + Effects::SlotOffset(slot, m_slotSize);
    std::memset(target, 0, m_slotSize);
    const ULONGLONG tick = ::GetTickCount64();
    std::memcpy(m_scratch.get() + m_slotSize - sizeof(tick), &tick, sizeof(tick));
    if (m_scramble)
        m_scramble(m_scratch.get());
    std::memcpy(target, m_scratch.get(), m_slotSize);
    // Full barrier: the record is complete before a reader sees the index move.
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&header->dwWriteIndex),
                          static_cast<LONG>(Effects::NextWriteIndex(slot)));
    PulseLocked();
}

void CEffectRingSection::PulseLocked() noexcept
{
    if (m_mode != ATTACH_OPEN_ONLY)
    {
        PulseNamedEvent(m_eventName.c_str());
        return;
    }
    // The device side may create the event after the ring.
    if (!m_event)
        m_event.Reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, m_eventName.c_str()));
    if (m_event)
        ::PulseEvent(m_event.Get());
}

// ---------------------------------------------------------------------------

CKaleoModelData::CKaleoModelData(const Effects::CModelRingRow& row)
    : CEffectRingSection(std::wstring(Effects::MODEL_SECTION_PREFIX) + row.guid,
                         std::wstring(Effects::MODEL_EVENT_PREFIX) + row.guid, Effects::MODEL_SECTION_SIZE,
                         Effects::MODEL_SLOT_SIZE, ATTACH_OPEN_ONLY, nullptr),
      m_deviceCode(row.deviceCode)
{
}

DWORD CKaleoModelData::WriteEffect(_EFFECTYPE effect) noexcept
{
    return WriteWith([&](uint8_t* record) {
        auto* model = reinterpret_cast<_DATATYPE*>(record);
        model->dwDeviceCode = m_deviceCode;
        model->dwEffect = effect;
    });
}

// ---------------------------------------------------------------------------

CEffectRings::CEffectRings()
{
    m_models.reserve(Effects::MODEL_RING_COUNT);
    for (const Effects::CModelRingRow& row : Effects::MODEL_RINGS)
        m_models.push_back(std::make_unique<CKaleoModelData>(row));
}

void CEffectRings::WriteGlobalEffect(DWORD devicesSupported, _EFFECTYPE effect) noexcept
{
    using namespace Effects;
    if (devicesSupported & DEVICE_KEYBOARD)
        m_keyboard.WriteEffect(effect);
    if (devicesSupported & DEVICE_MOUSE)
        m_mouse.WriteEffect(effect);
    if (devicesSupported & DEVICE_HEADSET)
        m_headset.WriteEffect(effect);
    if (devicesSupported & DEVICE_MOUSEPAD)
        m_mousepad.WriteEffect(effect);
    if (devicesSupported & DEVICE_KEYPAD)
        m_keypad.WriteEffect(effect);
    if (devicesSupported & DEVICE_LINK)
        m_link.WriteEffect(effect);
    m_homeLighting.WriteEffect((devicesSupported & DEVICE_HOMELIGHTING) ? effect : EFFECT_RELEASED);
    WriteModelRings(effect);
    m_general.WriteEffect(effect);
}

void CEffectRings::WriteModelRings(_EFFECTYPE effect) noexcept
{
    // Written here, one after another, not by pool tasks this thread would
    // wait for. BenchEffects measures both ways: the medians are the same
    // (six records, about 0.2 ms either way). Tasks would need free pool
    // threads, and every registered app keeps one blocked in its monitor:
    // with the pool at its thread limit (reachable by registering one
    // process again and again) they would never start, and callers that
    // hold the manager's state lock would hang the module.
    for (const std::unique_ptr<CKaleoModelData>& model : m_models)
        model->WriteEffect(effect);
}

void CEffectRings::WriteHeadsetRecord(DWORD deviceCode, _EFFECTYPE effect) noexcept
{
    m_headset.WriteEffect(deviceCode, effect);
}
