// The module's life under its three exports, loaded as the host loads it.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include "AppData.h"
#include "AppManager.h"
#include "Registry.h"
#include "ServiceEntry.h"
#include "TestEnv.h"

using namespace TestEnv;

namespace
{
const wchar_t kAppsKey[] = L"Software\\Vexel Kaleo SDK\\Apps";
const wchar_t kControlPipe[] = L"\\\\.\\pipe\\88756D22-EF7D-4755-8F3C-FAE2CFE2B34A";

// Threads of this process, once the count has settled: the module's threads
// and the pool threads they use start a moment after the call that starts them.
int CountOwnThreads();

int CountOwnThreadsNow()
{
    Common::CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL ok = ::Thread32First(snapshot.Get(), &entry); ok; ok = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    return count;
}

int CountOwnThreads()
{
    int last = CountOwnThreadsNow();
    for (int i = 0; i < 20; ++i)
    {
        ::Sleep(25);
        const int now = CountOwnThreadsNow();
        if (now == last)
            return now;
        last = now;
    }
    return last;
}

// The module DLL, loaded and resolved like the host does.
class CModuleDll
{
public:
    CModuleDll()
    {
        m_module.Reset(::LoadLibraryW((BinDir() + L"\\VxAppManager.dll").c_str()));
        if (!m_module)
            return;
        Init = Resolve(ServiceHost::INIT_EXPORT);
        Event = Resolve(ServiceHost::EVENT_EXPORT);
        UnInit = Resolve(ServiceHost::UNINIT_EXPORT);
    }
    bool Loaded() const { return m_module && Init && Event && UnInit; }

    using Fn = ServiceHost::PFN_SERVICE_ENTRY;
    Fn Init = nullptr;
    Fn Event = nullptr;
    Fn UnInit = nullptr;

private:
    Fn Resolve(const char* name) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_module.Get(), name)));
    }

    Common::CModule m_module;
};

class ModuleLifecycle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(kAppsKey);
        RegWriteString(kAppsKey, L"PriorityList", L"");
        ASSERT_TRUE(m_dll.Loaded());
    }
    void TearDown() override { m_dll.UnInit(0); }

    CInstallFixture m_install;
    CModuleDll m_dll;
};
} // namespace

TEST_F(ModuleLifecycle, InitTwiceStartsEachThreadOnce)
{
    const int before = CountOwnThreads();
    EXPECT_EQ(0, m_dll.Init(0));
    const int running = CountOwnThreads();
    EXPECT_GE(running, before + 3);
    EXPECT_EQ(0, m_dll.Init(0));
    EXPECT_EQ(running, CountOwnThreads());
    EXPECT_EQ(0, m_dll.UnInit(0));
    // The module's three threads are gone; idle pool threads may stay.
    EXPECT_TRUE(WaitFor([&] { return CountOwnThreadsNow() <= running - 3; }, 2000)) << "worker threads left running";
}

TEST_F(ModuleLifecycle, UnInitWithoutInitDoesNothing)
{
    EXPECT_EQ(0, m_dll.UnInit(0));
    EXPECT_EQ(0, m_dll.UnInit(0));
}

TEST_F(ModuleLifecycle, ServiceEventsAreIgnored)
{
    for (int code : {0, 1, 2, 3, 10, -1, 0x7FFFFFFF})
        EXPECT_EQ(0, m_dll.Event(code)) << "before init, code " << code;
    ASSERT_EQ(0, m_dll.Init(0));
    const int running = CountOwnThreads();
    for (int code : {0, 1, 2, 3, 10, -1, 0x7FFFFFFF})
        EXPECT_EQ(0, m_dll.Event(code)) << "running, code " << code;
    EXPECT_EQ(running, CountOwnThreads());
}

TEST_F(ModuleLifecycle, RestartsAfterUnInit)
{
    for (int round = 0; round < 3; ++round)
    {
        const int before = CountOwnThreads();
        ASSERT_EQ(0, m_dll.Init(0));
        const int running = CountOwnThreads();
        EXPECT_GE(running, before + 3) << "round " << round;
        ASSERT_EQ(0, m_dll.UnInit(0));
        EXPECT_TRUE(WaitFor([&] { return CountOwnThreadsNow() <= running - 3; }, 2000)) << "round " << round;
    }
}

TEST_F(ModuleLifecycle, PriorityListCreatedEmptyWhenAbsent)
{
    RegDeleteTreeW32(kAppsKey);
    CRegistrySnapshot restore(kAppsKey);
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAppsKey, 0, nullptr, 0, Common::KALEO_ALL_ACCESS,
                                               nullptr, key.Put(), nullptr));
    ASSERT_EQ(0, m_dll.Init(0));

    DWORD type = 0;
    BYTE data[8] = {0xCC, 0xCC, 0xCC, 0xCC};
    DWORD size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.Get(), L"PriorityList", nullptr, &type, data, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(2u, size);
    EXPECT_EQ(0, data[0]);
    EXPECT_EQ(0, data[1]);
}

TEST_F(ModuleLifecycle, PriorityListKeptWhenPresent)
{
    RegWriteString(kAppsKey, L"PriorityList", L"game.exe,tool.exe");
    ASSERT_EQ(0, m_dll.Init(0));
    std::wstring value;
    ASSERT_TRUE(RegReadString(kAppsKey, L"PriorityList", value));
    EXPECT_EQ(L"game.exe,tool.exe", value);
}

TEST_F(ModuleLifecycle, WithoutAppsKeyNoChannelRuns)
{
    RegDeleteTreeW32(kAppsKey);
    const int before = CountOwnThreads();
    EXPECT_EQ(0, m_dll.Init(0));
    EXPECT_EQ(before, CountOwnThreads()) << "no thread without the Apps key";
    EXPECT_FALSE(::WaitNamedPipeW(kControlPipe, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
    EXPECT_FALSE(RegKeyExists(kAppsKey)) << "the module must not create the Apps key";
    EXPECT_EQ(0, m_dll.UnInit(0));
}

TEST_F(ModuleLifecycle, FirstStartCreatesZeroedAppTable)
{
    ASSERT_EQ(0, m_dll.Init(0));
    Common::CHandle mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, Common::APP_TABLE_NAME));
    ASSERT_TRUE(mapping.IsValid());
    Common::CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, Common::APP_TABLE_SIZE));
    ASSERT_TRUE(view.IsValid());
    const BYTE* bytes = static_cast<const BYTE*>(view.Get());
    size_t nonZero = 0;
    for (DWORD i = 0; i < Common::APP_TABLE_SIZE; ++i)
        nonZero += bytes[i] != 0;
    EXPECT_EQ(0u, nonZero);
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(0u, ::VirtualQuery(view.Get(), &info, sizeof(info)));
    EXPECT_GE(info.RegionSize, static_cast<SIZE_T>(Common::APP_TABLE_SIZE));
}

// The manager on its own, without the exports.
TEST(AppManagerObject, StopsEveryThreadItStarted)
{
    CInstallFixture install;
    RegWriteString(kAppsKey, L"PriorityList", L"");
    int running = 0;
    {
        CAppManager manager;
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), manager.Init());
        EXPECT_TRUE(manager.HasWorkerThreads());
        running = CountOwnThreads();
        manager.UnInit();
        EXPECT_FALSE(manager.HasWorkerThreads());
        EXPECT_EQ(nullptr, manager.StopEvent());
        EXPECT_EQ(0u, manager.PendingTasks()) << "tasks still running";
    }
    EXPECT_TRUE(WaitFor([&] { return CountOwnThreadsNow() <= running - 3; }, 2000));
}

TEST(AppManagerObject, DestroyedWhileRunningStopsFirst)
{
    CInstallFixture install;
    RegWriteString(kAppsKey, L"PriorityList", L"");
    int running = 0;
    {
        CAppManager manager;
        manager.Init();
        running = CountOwnThreads();
    }
    EXPECT_TRUE(WaitFor([&] { return CountOwnThreadsNow() <= running - 3; }, 2000));
}

namespace
{
// A manager whose stop event cannot be made, or cannot be set the first
// times it is tried.
class CFaultyStopManager : public CAppManager
{
public:
    CFaultyStopManager(bool noStopEvent, int signalFailures)
        : m_noStopEvent(noStopEvent), m_signalFailures(signalFailures)
    {
    }
    ~CFaultyStopManager() override { UnInit(); }

protected:
    HANDLE CreateStopEvent() override
    {
        if (!m_noStopEvent)
            return CAppManager::CreateStopEvent();
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BOOL SignalStop() override
    {
        if (m_signalFailures <= 0)
            return CAppManager::SignalStop();
        --m_signalFailures;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }

private:
    bool m_noStopEvent;
    int m_signalFailures;
};
} // namespace

// Without a stop event no thread may start, since none could be stopped; a
// stop event that cannot be set at first still ends every thread before
// UnInit returns.
TEST(AppManagerObject, UnInitAfterAFailedStartLeavesNoThreadRunning)
{
    CInstallFixture install;
    RegWriteString(kAppsKey, L"PriorityList", L"");
    struct CCase
    {
        const char* what;
        bool noStopEvent;
        int signalFailures;
    };
    for (const CCase& c : {CCase{"no stop event", true, 0}, CCase{"SetEvent fails twice", false, 2}})
    {
        const int before = CountOwnThreads();
        CFaultyStopManager manager(c.noStopEvent, c.signalFailures);
        manager.Init();
        const int running = CountOwnThreads();
        EXPECT_EQ(!c.noStopEvent, manager.HasWorkerThreads()) << c.what;
        if (c.noStopEvent)
        {
            EXPECT_EQ(before, running) << c.what << ": threads started that nothing could stop";
        }
        manager.UnInit();
        EXPECT_FALSE(manager.HasWorkerThreads()) << c.what << ": UnInit returned before joining its threads";
        EXPECT_TRUE(WaitFor([&] { return CountOwnThreadsNow() <= before; }, 2000))
            << c.what << ": " << CountOwnThreadsNow() << " threads, " << before << " before the start";
    }
}
