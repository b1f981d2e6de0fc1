// Security attributes for Global\ objects: accepted by the creating calls,
// and the created objects carry a DACL granting Everyone full control.
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <string>
#include "GlobalSecurity.h"
#include "Handles.h"

namespace
{

std::wstring SidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return L"<invalid>";
    Common::CLocalMem owner(text);
    return text;
}

// The DACL must hold exactly one entry: allow Everyone 0x1FFFFF, not inherited.
void ExpectEveryoneFullControl(PACL dacl)
{
    ASSERT_NE(nullptr, dacl);
    ACL_SIZE_INFORMATION info = {};
    ASSERT_TRUE(::GetAclInformation(dacl, &info, sizeof(info), AclSizeInformation));
    ASSERT_EQ(1u, info.AceCount);
    void* raw = nullptr;
    ASSERT_TRUE(::GetAce(dacl, 0, &raw));
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    EXPECT_EQ(0, ace->Header.AceFlags);
    EXPECT_EQ(0x1FFFFFu, ace->Mask);
    EXPECT_EQ(L"S-1-1-0", SidText(const_cast<DWORD*>(&ace->SidStart)));
}

void ExpectObjectDacl(HANDLE object)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              ::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                &descriptor));
    Common::CLocalMem owner(descriptor);
    ExpectEveryoneFullControl(dacl);
}

std::wstring UniqueName(const wchar_t* kind)
{
    return L"Global\\KaleoSecurityTest-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + kind;
}

TEST(GlobalSecurityAttrs, NoAttributesBeforeBuild)
{
    Common::CGlobalSecurity security;
    EXPECT_EQ(nullptr, security.Attributes());
}

TEST(GlobalSecurityAttrs, BuildGivesEveryoneFullControl)
{
    Common::CGlobalSecurity security;
    ASSERT_EQ(0u, security.Build());
    SECURITY_ATTRIBUTES* attributes = security.Attributes();
    ASSERT_NE(nullptr, attributes);
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes->nLength);
    EXPECT_FALSE(attributes->bInheritHandle);
    ASSERT_TRUE(::IsValidSecurityDescriptor(attributes->lpSecurityDescriptor));

    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL dacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorDacl(attributes->lpSecurityDescriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    ExpectEveryoneFullControl(dacl);

    // A second build replaces the first and stays usable.
    ASSERT_EQ(0u, security.Build());
    ASSERT_NE(nullptr, security.Attributes());
    ASSERT_TRUE(::GetSecurityDescriptorDacl(security.Attributes()->lpSecurityDescriptor, &present, &dacl, &defaulted));
    ExpectEveryoneFullControl(dacl);
}

TEST(GlobalSecurityAttrs, NamedObjectsOpenWithFullAccess)
{
    const std::wstring eventName = UniqueName(L"Event");
    const std::wstring mutexName = UniqueName(L"Mutex");
    const std::wstring mappingName = UniqueName(L"Mapping");
    Common::CHandle event;
    Common::CHandle mutex;
    Common::CHandle mapping;
    {
        // The holder goes before the objects are opened: they keep their own copy.
        Common::CGlobalSecurity security;
        ASSERT_EQ(0u, security.Build());
        event.Reset(::CreateEventW(security.Attributes(), TRUE, FALSE, eventName.c_str()));
        ASSERT_TRUE(event.IsValid()) << ::GetLastError();
        EXPECT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), ::GetLastError());
        mutex.Reset(::CreateMutexW(security.Attributes(), FALSE, mutexName.c_str()));
        ASSERT_TRUE(mutex.IsValid()) << ::GetLastError();
        mapping.Reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, security.Attributes(), PAGE_READWRITE, 0, 4096,
                                           mappingName.c_str()));
        ASSERT_TRUE(mapping.IsValid()) << ::GetLastError();
    }

    Common::CHandle openedEvent(::OpenEventW(EVENT_ALL_ACCESS, FALSE, eventName.c_str()));
    Common::CHandle openedMutex(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, mutexName.c_str()));
    Common::CHandle openedMapping(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, mappingName.c_str()));
    ASSERT_TRUE(openedEvent.IsValid()) << ::GetLastError();
    ASSERT_TRUE(openedMutex.IsValid()) << ::GetLastError();
    ASSERT_TRUE(openedMapping.IsValid()) << ::GetLastError();

    // Full access works in practice, not only on paper.
    EXPECT_TRUE(::SetEvent(openedEvent.Get()));
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(event.Get(), 0));
    Common::CMappedView view(::MapViewOfFile(openedMapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_TRUE(view.IsValid());
    static_cast<BYTE*>(view.Get())[0] = 0x5A;

    ExpectObjectDacl(event.Get());
    ExpectObjectDacl(mutex.Get());
    ExpectObjectDacl(mapping.Get());
}

} // namespace
