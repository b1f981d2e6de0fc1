// A thread owner joins within its bound, keeps a thread that outlives it,
// keeps exceptions inside the thread, and keeps the module mapped under a
// thread its caller no longer waits for.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Handles.h"
#include "TestEnv.h"
#include "ThreadOwner.h"

namespace
{

constexpr DWORD kPatienceMs = 10000;

Common::CHandle NewEvent()
{
    return Common::CHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

DWORD ExitCode(HANDLE thread)
{
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeThread(thread, &code);
    return code;
}

TEST(ThreadOwner, JoinsWithinBoundOrKeepsTheLingeringThread)
{
    Common::CHandle release = NewEvent();
    const HANDLE go = release.Get();
    Common::CThreadOwner owner;
    ASSERT_EQ(ERROR_SUCCESS, owner.Start([go]() -> DWORD { return ::WaitForSingleObject(go, INFINITE) + 7; }));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, owner.Start([]() -> DWORD { return 0; }));

    EXPECT_FALSE(owner.Join(50));
    EXPECT_TRUE(owner.Owns());
    EXPECT_TRUE(owner.Lingering());
    EXPECT_TRUE(owner.Running());
    const HANDLE thread = owner.Handle();

    ::SetEvent(go);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, kPatienceMs));
    EXPECT_EQ(7u, ExitCode(thread));
    EXPECT_TRUE(owner.Join(0));
    EXPECT_FALSE(owner.Owns());
    EXPECT_FALSE(owner.Lingering());
    EXPECT_TRUE(owner.Join(0)) << "nothing owned: nothing to wait for";
}

TEST(ThreadOwner, SuspendedThreadRunsOnResumeAndExceptionsStayInside)
{
    Common::CThreadOwner owner;
    bool ran = false;
    ASSERT_EQ(ERROR_SUCCESS, owner.Start(
                                 [&ran]() -> DWORD {
                                     ran = true;
                                     throw std::runtime_error("thrown on the thread");
                                 },
                                 CREATE_SUSPENDED));
    EXPECT_FALSE(owner.Join(50));
    EXPECT_FALSE(ran);
    ASSERT_EQ(ERROR_SUCCESS, owner.Resume());
    const HANDLE thread = owner.Handle();
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, kPatienceMs));
    EXPECT_TRUE(ran);
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), ExitCode(thread));
    EXPECT_TRUE(owner.Join(0));
}

// The library's thread outlives the caller's FreeLibrary: the library stays
// mapped until the thread has run its code and ended, then goes.
TEST(ThreadOwner, LingeringThreadKeepsItsModuleMappedUntilItEnds)
{
    const std::wstring path = TestEnv::BinDir() + L"\\PinnedThreadProbe.dll";
    HMODULE module = ::LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, module);
    using PFN_START = DWORD (*)(HANDLE, HANDLE, wchar_t*, DWORD);
    const auto start = reinterpret_cast<PFN_START>(reinterpret_cast<void*>(::GetProcAddress(module, "StartLingeringThread")));
    ASSERT_NE(nullptr, start);

    Common::CHandle go = NewEvent();
    Common::CHandle done = NewEvent();
    wchar_t mark[32] = {};
    ASSERT_EQ(ERROR_SUCCESS, start(go.Get(), done.Get(), mark, 32));
    ASSERT_TRUE(::FreeLibrary(module));
    EXPECT_EQ(module, ::GetModuleHandleW(L"PinnedThreadProbe.dll")) << "unloaded under its running thread";

    ::SetEvent(go.Get());
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(done.Get(), kPatienceMs));
    EXPECT_STREQ(L"still mapped", mark);
    // The thread's own reference goes as it ends.
    bool unloaded = false;
    for (int i = 0; i < 200 && !unloaded; ++i)
    {
        unloaded = ::GetModuleHandleW(L"PinnedThreadProbe.dll") == nullptr;
        if (!unloaded)
            ::Sleep(25);
    }
    EXPECT_TRUE(unloaded);
}

} // namespace
