#include "GlobalSecurity.h"

namespace Common
{

namespace
{

// Some calls may fail without setting an error; never report that as 0.
DWORD LastErrorOrFailure() noexcept
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_FUNCTION_FAILED;
}

} // namespace

CGlobalSecurity::CGlobalSecurity() noexcept
    : m_authority(), m_access(), m_attributes(), m_built(false)
{
}

void CGlobalSecurity::Clear() noexcept
{
    m_built = false;
    m_attributes = SECURITY_ATTRIBUTES();
    m_descriptor.Reset();
    m_dacl.Reset();
    m_access = EXPLICIT_ACCESS_W();
    m_everyone.Reset();
    m_authority = SID_IDENTIFIER_AUTHORITY();
}

DWORD CGlobalSecurity::Build() noexcept
{
    Clear();

    const SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    m_authority = world;
    if (!::AllocateAndInitializeSid(&m_authority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, m_everyone.Put()))
        return LastErrorOrFailure();

    m_access.grfAccessPermissions = GLOBAL_OBJECT_ACCESS;
    m_access.grfAccessMode = SET_ACCESS;
    m_access.grfInheritance = NO_INHERITANCE;
    m_access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    m_access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    m_access.Trustee.ptstrName = static_cast<LPWSTR>(m_everyone.Get());

    // The DACL holds this one entry; no earlier ACL is merged.
    PACL dacl = nullptr;
    const DWORD aclResult = ::SetEntriesInAclW(1, &m_access, nullptr, &dacl);
    if (aclResult != ERROR_SUCCESS)
        return aclResult;
    m_dacl.Reset(dacl);

    m_descriptor.Reset(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!m_descriptor)
        return LastErrorOrFailure();
    if (!::InitializeSecurityDescriptor(m_descriptor.Get(), SECURITY_DESCRIPTOR_REVISION))
        return LastErrorOrFailure();
    if (!::SetSecurityDescriptorDacl(m_descriptor.Get(), TRUE, dacl, FALSE))
        return LastErrorOrFailure();

    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = m_descriptor.Get();
    m_attributes.bInheritHandle = FALSE;
    m_built = true;
    return ERROR_SUCCESS;
}

} // namespace Common
