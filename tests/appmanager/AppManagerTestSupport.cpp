#include "AppManagerTestSupport.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include "LogWriter.h"

using namespace TestEnv;

namespace AppTest
{

const wchar_t* const kAppsKey = L"Software\\Vexel Kaleo SDK\\Apps";

CAppsInstall::CAppsInstall()
{
    RegDeleteTreeW32(kAppsKey);
    RegWriteString(kAppsKey, L"PriorityList", L"");
}

std::wstring CAppsInstall::OwnLog() const
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return LogsDir() + L"\\" + Common::MakeLogFileName(exe);
}

CIdleApp::CIdleApp(const std::wstring& args, const std::wstring& folder, const std::wstring& exeName)
{
    std::wstring exe = BinDir() + L"\\IdleApp.exe";
    if (!exeName.empty())
    {
        const std::wstring copy = folder + L"\\" + exeName;
        EXPECT_TRUE(::CopyFileW(exe.c_str(), copy.c_str(), FALSE) || FileExists(copy));
        exe = copy;
    }
    EXPECT_TRUE(m_process.Start(exe, args));
}

DWORD DeadProcessId()
{
    CChildProcess child;
    EXPECT_TRUE(child.Start(BinDir() + L"\\IdleApp.exe", L"--exit-after 0"));
    EXPECT_EQ(0u, child.Wait(10000));
    return child.Pid();
}

CTableView::CTableView()
{
    Attach();
}

bool CTableView::Attach()
{
    if (m_view)
        return true;
    m_mapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, Common::APP_TABLE_NAME));
    if (m_mapping)
        m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, Common::APP_TABLE_SIZE));
    return m_view.IsValid();
}

std::vector<DWORD> CTableView::Pids() const
{
    std::vector<DWORD> pids;
    const int count = Count();
    for (int i = 1; i <= count && i <= Common::APP_TABLE_MAX_ROWS; ++i)
        pids.push_back(Table()->rows[i].dwProcessId);
    return pids;
}

std::wstring CTableView::Name(int row) const
{
    const wchar_t* name = Table()->rows[row].szName;
    return std::wstring(name, ::wcsnlen(name, 260));
}

CPulseCounter::CPulseCounter(const wchar_t* name)
{
    m_event.Reset(::CreateEventW(nullptr, TRUE, FALSE, name));
    Start();
}

CPulseCounter::CPulseCounter(const wchar_t* name, const wchar_t* sddl)
{
    Common::CLocalMem descriptor;
    PSECURITY_DESCRIPTOR sd = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr));
    descriptor.Reset(sd);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd, FALSE};
    m_event.Reset(::CreateEventW(&attributes, TRUE, FALSE, name));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), ::GetLastError()) << "the event must be new";
    Start();
}

void CPulseCounter::Start()
{
    m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_thread.Reset(::CreateThread(nullptr, 0, &CPulseCounter::ThreadProc, this, 0, nullptr));
    ::Sleep(20); // let the thread reach its wait: a pulse only wakes waiters
}

CPulseCounter::~CPulseCounter()
{
    ::SetEvent(m_stop.Get());
    ::WaitForSingleObject(m_thread.Get(), INFINITE);
}

long CPulseCounter::Count() const
{
    return ::InterlockedCompareExchange(const_cast<volatile LONG*>(&m_count), 0, 0);
}

DWORD WINAPI CPulseCounter::ThreadProc(LPVOID param)
{
    auto* self = static_cast<CPulseCounter*>(param);
    const HANDLE waits[2] = {self->m_stop.Get(), self->m_event.Get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
    {
        ::InterlockedIncrement(&self->m_count);
        // A manual-reset event left set by a SetEvent would spin: only
        // pulses are expected here.
        ::ResetEvent(self->m_event.Get());
    }
    return 0;
}

size_t CountOf(const std::wstring& text, const std::wstring& what)
{
    size_t count = 0;
    for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + 1))
        ++count;
    return count;
}

} // namespace AppTest
