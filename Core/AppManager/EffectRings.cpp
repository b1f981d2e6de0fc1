// Attaching and writing the effect rings.
#include "EffectRings.h"

#include <new>
#include <utility>

#include "GlobalSecurity.h"
#include "LogWriter.h"
#include "NamedEvents.h"

using namespace Common;

namespace
{
// True when the view really spans `size` bytes. Mapping more than a section
// holds normally fails already; this also catches a section that another
// process created smaller than the layout, wherever the mapping call is
// lenient about it.
bool ViewCovers(const void* view, size_t size) noexcept
{
    const uint8_t* base = static_cast<const uint8_t*>(view);
    size_t covered = 0;
    while (covered < size)
    {
        MEMORY_BASIC_INFORMATION info{};
        if (::VirtualQuery(base + covered, &info, sizeof(info)) != sizeof(info))
            return false;
        if (info.AllocationBase != view || info.State != MEM_COMMIT || info.RegionSize == 0)
            return false;
        covered += info.RegionSize - static_cast<size_t>(base + covered - static_cast<const uint8_t*>(info.BaseAddress));
    }
    return true;
}
} // namespace

// ---------------------------------------------------------------------------

CEffectRingSection::CEffectRingSection(std::wstring sectionName, std::wstring eventName, DWORD sectionSize,
                                       DWORD slotSize, EAttachMode mode, ScrambleFn scramble)
    : m_sectionName(std::move(sectionName)), m_eventName(std::move(eventName)), m_sectionSize(sectionSize),
      m_slotSize(slotSize), m_mode(mode), m_scramble(scramble)
{
}

bool CEffectRingSection::IsAttached()
{
    CCriticalSection::CScopedLock lock(m_lock);
    return m_view.IsValid();
}

DWORD CEffectRingSection::AttachLocked() noexcept
{
    if (m_view)
        return ERROR_SUCCESS;
    // The slots must lie inside the section whatever the caller passed.
    if (m_slotSize < sizeof(uint64_t) ||
        Effects::SlotOffset(Effects::RING_SLOTS, m_slotSize) > static_cast<size_t>(m_sectionSize))
        return ERROR_INVALID_PARAMETER;

    CHandle mapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, m_sectionName.c_str()));
    if (mapping)
        return MapLocked(mapping, false);
    const DWORD openError = ::GetLastError();
    if (m_mode == ATTACH_OPEN_ONLY)
        return openError;

    CGlobalSecurity security;
    const DWORD built = security.Build();
    if (built != ERROR_SUCCESS)
        return built;
    mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0, m_sectionSize,
                                       m_sectionName.c_str()));
    if (!mapping)
        return ::GetLastError();
    // Another process may have created it between the open and the create:
    // then its content is kept.
    const bool created = ::GetLastError() != ERROR_ALREADY_EXISTS;
    return MapLocked(mapping, created);
}

DWORD CEffectRingSection::MapLocked(CHandle& mapping, bool created) noexcept
{
    CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, m_sectionSize));
    if (!view)
        return ::GetLastError();
    if (!ViewCovers(view.Get(), m_sectionSize))
        return ERROR_INVALID_DATA;
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[m_slotSize]);
    if (!scratch)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (created)
        std::memset(view.Get(), 0, m_sectionSize);
    if (m_mode == ATTACH_OPEN_ONLY && !m_event)
        m_event.Reset(::OpenEventW(EVENT_ALL_ACCESS, FALSE, m_eventName.c_str()));
    m_mapping = std::move(mapping);
    m_view = std::move(view);
    m_scratch = std::move(scratch);
    return ERROR_SUCCESS;
}

void CEffectRingSection::CommitLocked() noexcept
{
    uint8_t* base = static_cast<uint8_t*>(m_view.Get());
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
        m_event.Reset(::OpenEventW(EVENT_ALL_ACCESS, FALSE, m_eventName.c_str()));
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
    // wait for: callers hold the manager's state lock, and every registered
    // app keeps a pool thread blocked in its monitor. With the pool at its
    // thread limit (about 480 under Wine, reachable by registering one
    // process again and again) such tasks never start, and the module would
    // hang with the lock held. Six plain records cost well under a
    // millisecond on one thread.
    for (const std::unique_ptr<CKaleoModelData>& model : m_models)
        model->WriteEffect(effect);
}

void CEffectRings::WriteHeadsetRecord(DWORD deviceCode, _EFFECTYPE effect) noexcept
{
    m_headset.WriteEffect(deviceCode, effect);
}
