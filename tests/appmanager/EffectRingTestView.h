#pragma once
// Test-side access to the effect rings: a view of a ring section by name,
// the record checksum the device stand-in prints, and registry writes.
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <string>

#include "EffectKey.h"
#include "EffectLayout.h"
#include "Handles.h"
#include "Registry.h"

namespace EffectTest
{

// A ring section mapped read-write, as another process would see it.
class CRingView
{
public:
    bool Open(const std::wstring& name, DWORD size)
    {
        m_mapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name.c_str()));
        return Map(size);
    }
    // Creates the section (or opens it when it exists), as the device side does.
    bool Create(const std::wstring& name, DWORD size)
    {
        m_mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, name.c_str()));
        return Map(size);
    }

    uint8_t* Data() const { return static_cast<uint8_t*>(m_view.Get()); }
    volatile uint32_t& WriteIndex() const { return *reinterpret_cast<volatile uint32_t*>(Data()); }
    uint8_t* Slot(DWORD slot, DWORD slotSize) const { return Data() + Effects::SlotOffset(slot, slotSize); }
    uint32_t Word(DWORD slot, DWORD slotSize, size_t offset) const
    {
        uint32_t value;
        std::memcpy(&value, Slot(slot, slotSize) + offset, sizeof(value));
        return value;
    }
    uint64_t Tick(DWORD slot, DWORD slotSize) const { return Effects::RecordTickCount(Slot(slot, slotSize), slotSize); }

private:
    bool Map(DWORD size)
    {
        if (!m_mapping)
            return false;
        m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
        return m_view.IsValid();
    }
    Common::CHandle m_mapping;
    Common::CMappedView m_view;
};

inline bool SectionExists(const std::wstring& name)
{
    Common::CHandle mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
    return mapping.IsValid();
}

// FNV-1a over a record without its tick count, as "kaleoctl device" prints it.
inline uint32_t RecordChecksum(const void* record, size_t size)
{
    const uint8_t* bytes = static_cast<const uint8_t*>(record);
    uint32_t hash = 2166136261u;
    const size_t covered = size > sizeof(uint64_t) ? size - sizeof(uint64_t) : 0;
    for (size_t i = 0; i < covered; ++i)
    {
        hash ^= bytes[i];
        hash *= 16777619u;
    }
    return hash;
}

inline void RegWriteDword(const std::wstring& keyPath, const wchar_t* name, DWORD value)
{
    Common::CRegKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, Common::KALEO_ALL_ACCESS, nullptr,
                          key.Put(), nullptr) == ERROR_SUCCESS)
        ::RegSetValueExW(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

inline std::wstring AppKey(const std::wstring& name)
{
    return std::wstring(Common::KALEO_APPS_KEY) + L"\\" + name;
}

} // namespace EffectTest
