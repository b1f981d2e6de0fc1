#pragma once
// Test-side access to the effect rings: a view of a ring section by name,
// the record checksum the device stand-in prints, and registry writes.
#include <windows.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

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

// One record line "kaleoctl device" printed.
struct CPrinted
{
    std::string ring;
    uint32_t code = 0;
    uint32_t effect = 0;
    uint64_t tick = 0;
    uint32_t slot = 0;
    uint32_t sum = 0;
};

inline std::string Field(const std::string& line, const char* key)
{
    const size_t at = line.find(std::string(" ") + key + "=");
    if (at == std::string::npos)
        return std::string();
    const size_t start = at + std::strlen(key) + 2;
    return line.substr(start, line.find_first_of(" \r\n", start) - start);
}

inline std::vector<CPrinted> ParseRecords(const std::string& output)
{
    std::vector<CPrinted> records;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.rfind("record ", 0) != 0)
            continue;
        CPrinted r;
        r.ring = Field(line, "ring");
        r.code = static_cast<uint32_t>(std::strtoul(Field(line, "code").c_str(), nullptr, 16));
        r.effect = static_cast<uint32_t>(std::strtoul(Field(line, "effect").c_str(), nullptr, 10));
        r.tick = std::strtoull(Field(line, "tick").c_str(), nullptr, 10);
        r.slot = static_cast<uint32_t>(std::strtoul(Field(line, "slot").c_str(), nullptr, 10));
        r.sum = static_cast<uint32_t>(std::strtoul(Field(line, "sum").c_str(), nullptr, 16));
        records.push_back(r);
    }
    return records;
}

// Checksum of a record the module writes for an effect: zero but for its header.
inline uint32_t EffectRecordSum(const Effects::CRingLayout& layout, uint32_t code, uint32_t effect)
{
    std::vector<uint8_t> record(layout.slotSize, 0);
    std::memcpy(record.data(), &code, 4);
    std::memcpy(record.data() + layout.effectOffset, &effect, 4);
    if (layout.effectOffset == 8)
    {
        const uint32_t word1 = 0x3F0FFF;
        std::memcpy(record.data() + 4, &word1, 4);
    }
    return RecordChecksum(record.data(), record.size());
}

} // namespace EffectTest
