#pragma once
// Security attributes for named kernel objects in the Global\ namespace:
// a DACL that grants Everyone full control, so services and processes of
// any user or session can open what one of them created.
#include <windows.h>
#include <aclapi.h>
#include "Handles.h"

namespace Common
{

// All standard and specific rights: full control of any object type.
constexpr DWORD GLOBAL_OBJECT_ACCESS = STANDARD_RIGHTS_ALL | SPECIFIC_RIGHTS_ALL;
static_assert(GLOBAL_OBJECT_ACCESS == 0x1FFFFF, "full control");
static_assert(sizeof(SID_IDENTIFIER_AUTHORITY) == 6, "identifier authority is six bytes");

// One holder per object creation, usually on the creating function's stack.
// The created object keeps its own copy of the security, so the holder may
// go as soon as the creating call returned.
class CGlobalSecurity
{
public:
    CGlobalSecurity() noexcept;
    ~CGlobalSecurity() = default;
    // The attributes point into the holder itself: neither copy nor move.
    CGlobalSecurity(const CGlobalSecurity&) = delete;
    CGlobalSecurity& operator=(const CGlobalSecurity&) = delete;

    // Builds SID, DACL and descriptor; 0 or the Win32 error of the failing
    // step (never 0 on failure). What was built before a failure is
    // released by the destructor or the next Build.
    DWORD Build() noexcept;

    // Null until Build succeeded.
    SECURITY_ATTRIBUTES* Attributes() noexcept { return m_built ? &m_attributes : nullptr; }

private:
    void Clear() noexcept;

    SID_IDENTIFIER_AUTHORITY m_authority;
    CSid m_everyone;
    EXPLICIT_ACCESS_W m_access;
    CLocalMem m_dacl;
    CLocalMem m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
    bool m_built;
};

} // namespace Common
