#pragma once
// The shared app table: the registered, running apps and the process that
// owns the lighting, published in one named section for every SDK process.
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include "SharedSection.h"

namespace Common
{

constexpr wchar_t APP_TABLE_NAME[] = L"Global\\{D4E1A960-872F-4BF8-B09A-9E54F646D7CE}";
// Pulsed whenever the app list or the active app changed.
constexpr wchar_t APPS_CHANGED_EVENT[] = L"Global\\{89811F96-91C2-4C19-8E0A-54469F491550}";
// Pulsed whenever registrations changed; created by another SDK process.
constexpr wchar_t REGISTRATIONS_CHANGED_EVENT[] = L"Global\\{190E28CB-BB73-46B1-8FFD-62FF0EE273A0}";

constexpr int APP_TABLE_MAX_ROWS = 50;

class CAppData
{
public:
#pragma pack(push, 4)
    struct _APPDATATYPE
    {
        wchar_t szName[260];
        uint32_t dwProcessId;
        uint32_t dwReserved;
    };

    // Row 0 holds only the active app's process id; rows 1..count the apps,
    // newest first.
    struct _APPTABLE
    {
        int32_t nCount;
        _APPDATATYPE rows[APP_TABLE_MAX_ROWS + 1];
    };
#pragma pack(pop)

    CAppData() = default;
    CAppData(const CAppData&) = delete;
    CAppData& operator=(const CAppData&) = delete;

    // Attaches to an existing section; leaves its content as it is. FALSE
    // when already mapped, or when the section cannot be opened or mapped.
    BOOL Open();
    // Makes sure the section exists and is mapped; zeroes it only when this
    // call created it.
    BOOL Create();

    _APPTABLE* Table() const { return m_section.As<_APPTABLE>(); }
    bool IsMapped() const { return m_section.IsMapped(); }

private:
    CSharedSection m_section;
};

static_assert(sizeof(CAppData::_APPDATATYPE) == 528, "app row layout");
static_assert(offsetof(CAppData::_APPDATATYPE, dwProcessId) == 520, "app row layout");
static_assert(offsetof(CAppData::_APPDATATYPE, dwReserved) == 524, "app row layout");
static_assert(offsetof(CAppData::_APPTABLE, rows) == 4, "app table layout");
static_assert(sizeof(CAppData::_APPTABLE) == 26932, "app table layout");

constexpr DWORD APP_TABLE_SIZE = sizeof(CAppData::_APPTABLE);

} // namespace Common
