#include "RequestChannelHelpers.h"

#include <cwchar>
#include <mutex>
#include <set>

#include "NamedEvents.h"

using namespace TestEnv;

namespace ChannelTest
{

double NowMs()
{
    LARGE_INTEGER frequency{}, now{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// ---------------------------------------------------------------------------

void CRecordingManager::Add(const CCall& call)
{
    std::lock_guard<Common::CRecursiveLock> guard(m_callsLock);
    m_calls.push_back(call);
}

BOOL CRecordingManager::Register(const _REGISTERDATATYPE* data)
{
    CCall call{CCall::REGISTER_BLOCK, data ? data->dwProcessId : 0, FALSE, NowMs()};
    if (data)
    {
        call.title.assign(data->szTitle, ::wcsnlen(data->szTitle, 256));
        call.description.assign(data->szDescription, ::wcsnlen(data->szDescription, 1024));
        call.author.assign(data->szAuthor, ::wcsnlen(data->szAuthor, 256));
        call.contact.assign(data->szContact, ::wcsnlen(data->szContact, 256));
        call.devices = data->dwDevices;
        call.category = data->dwCategory;
    }
    call.result = CAppManager::Register(data);
    Add(call);
    return call.result;
}

BOOL CRecordingManager::Register(DWORD processId)
{
    CCall call{CCall::REGISTER_PID, processId, FALSE, NowMs()};
    call.result = CAppManager::Register(processId);
    Add(call);
    return call.result;
}

BOOL CRecordingManager::Unregister(DWORD processId)
{
    CCall call{CCall::UNREGISTER, processId, FALSE, NowMs()};
    call.result = CAppManager::Unregister(processId);
    Add(call);
    return call.result;
}

std::vector<CCall> CRecordingManager::Calls() const
{
    std::lock_guard<Common::CRecursiveLock> guard(m_callsLock);
    return m_calls;
}

bool CRecordingManager::WaitForCalls(size_t n, DWORD timeoutMs) const
{
    return WaitFor([&] { return Calls().size() >= n; }, timeoutMs);
}

// ---------------------------------------------------------------------------

CTestRing::CTestRing()
{
    // The ring thread of a manager that has just started may not have
    // attached yet.
    WaitFor([&] {
        m_mapping.Reset(::OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, AppRequests::REQUEST_RING_NAME));
        return m_mapping.IsValid();
    }, 5000);
    if (m_mapping)
        m_view.Reset(::MapViewOfFile(m_mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, AppRequests::REQUEST_RING_SIZE));
    EXPECT_TRUE(m_view.IsValid()) << "request ring not found";
}

DWORD CTestRing::Index() const
{
    if (!Ring())
        return 0;
    return static_cast<DWORD>(::InterlockedCompareExchange(
        reinterpret_cast<volatile LONG*>(&Ring()->dwWriteIndex), 0, 0));
}

void CTestRing::SetIndex(DWORD index)
{
    if (Ring())
        ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&Ring()->dwWriteIndex), static_cast<LONG>(index));
}

DWORD CTestRing::Push(DWORD pid, DWORD request)
{
    if (!Ring())
        return 0;
    const DWORD slot = Index() % AppRequests::REQUEST_RING_SLOTS;
    Ring()->slots[slot].dwRequest = request;
    ::InterlockedExchange(reinterpret_cast<volatile LONG*>(&Ring()->slots[slot].dwProcessId), static_cast<LONG>(pid));
    SetIndex((slot + 1) % AppRequests::REQUEST_RING_SLOTS);
    return slot;
}

void CTestRing::Pulse()
{
    Common::PulseNamedEvent(AppRequests::REQUEST_RING_EVENT);
}

// ---------------------------------------------------------------------------

_REGISTERDATATYPE MakeBlock(DWORD pid, DWORD request, const wchar_t* title)
{
    _REGISTERDATATYPE block;
    ::ZeroMemory(&block, sizeof(block));
    block.dwRequest = request;
    block.dwProcessId = pid;
    ::wcsncpy(block.szTitle, title, 255);
    return block;
}

Common::CHandle OpenControlPipe(DWORD timeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;)
    {
        Common::CHandle pipe(
            ::CreateFileW(AppRequests::CONTROL_PIPE_NAME, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (pipe || ::GetTickCount64() >= end)
            return pipe;
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(AppRequests::CONTROL_PIPE_NAME, 500);
        else
            ::Sleep(5);
    }
}

bool SendPipeMessage(const void* data, DWORD size, DWORD timeoutMs)
{
    Common::CHandle pipe = OpenControlPipe(timeoutMs);
    if (!pipe)
        return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(pipe.Get(), data, size, &written, nullptr);
    ::FlushFileBuffers(pipe.Get());
    return ok && written == size;
}

// ---------------------------------------------------------------------------

void CChannelFixture::SetUp()
{
    m_manager = std::make_unique<CRecordingManager>();
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), m_manager->Init());
    ASSERT_TRUE(m_table.Attach());
}

void CChannelFixture::TearDown()
{
    m_manager.reset();
}

std::wstring CChannelFixture::CopyAs(const wchar_t* binary, const std::wstring& name)
{
    const std::wstring copy = m_scratch / name;
    if (!FileExists(copy))
    {
        EXPECT_TRUE(::CopyFileW((BinDir() + L"\\" + binary).c_str(), copy.c_str(), FALSE)) << Narrow(copy);
    }
    return copy;
}

DWORD CChannelFixture::RunTool(const std::wstring& exe, const std::wstring& args, std::string* output,
                               DWORD timeoutMs)
{
    return RunProcess(exe, args, timeoutMs, output);
}

DWORD CChannelFixture::Kaleoctl(const std::wstring& args, std::string* output)
{
    return RunTool(BinDir() + L"\\kaleoctl.exe", args, output);
}

std::wstring CChannelFixture::Log() const
{
    return ReadUtf16File(m_install.OwnLog());
}

bool CChannelFixture::WaitForLog(const std::wstring& text, DWORD timeoutMs, size_t times) const
{
    return WaitFor([&] { return AppTest::CountOf(Log(), text) >= times; }, timeoutMs);
}

size_t CChannelFixture::CallsOf(CCall::Kind kind, DWORD pid) const
{
    size_t n = 0;
    for (const CCall& call : m_manager->Calls())
        n += call.kind == kind && call.pid == pid ? 1 : 0;
    return n;
}

bool CChannelFixture::RegisterThroughPipe(DWORD pid)
{
    const _REGISTERDATATYPE block = MakeBlock(pid, 1);
    return SendPipeMessage(&block, sizeof(block)) &&
           WaitFor([&] { return CallsOf(CCall::REGISTER_BLOCK, pid) == 1; }, 8000);
}

bool CChannelFixture::RegisterThroughRing(DWORD pid)
{
    return Kaleoctl(L"app register --ring --no-wait --pid " + std::to_wstring(pid)) == 0 &&
           WaitFor([&] { return CallsOf(CCall::REGISTER_PID, pid) == 1; }, 8000);
}

std::string CHeldApp::Output() const
{
    const std::vector<BYTE> bytes = ReadFileBytes(output);
    return std::string(bytes.begin(), bytes.end());
}

bool CHeldApp::WaitRegistered(DWORD timeoutMs) const
{
    return WaitFor([&] { return Output().find("registered pid") != std::string::npos; }, timeoutMs);
}

bool CHeldApp::Start(const CScratchDir& folder, bool ring)
{
    const std::wstring args = std::wstring(L"app register --hold --timeout 30000") + (ring ? L" --ring" : L"");
    return process.Start(folder / name, args, output);
}

std::vector<CHeldApp> CChannelFixture::HeldApps(int count)
{
    std::vector<CHeldApp> apps(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
    {
        wchar_t name[32];
        swprintf(name, 32, L"app%02d.exe", i);
        apps[i].name = name;
        apps[i].output = m_scratch / (apps[i].name + L".txt");
        EXPECT_TRUE(::CopyFileW((BinDir() + L"\\kaleoctl.exe").c_str(), (m_scratch / name).c_str(), FALSE));
    }
    return apps;
}

std::vector<CHeldApp> CChannelFixture::StartHeldApps(int count)
{
    std::vector<CHeldApp> apps = HeldApps(count);
    for (int i = 0; i < count; ++i)
        EXPECT_TRUE(apps[i].Start(m_scratch, i % 2 != 0)) << Narrow(apps[i].name);
    return apps;
}

void CChannelFixture::WarmUp()
{
    for (const wchar_t* channel : {L"", L"--ring "})
    {
        AppTest::CIdleApp app;
        ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe",
                                 std::wstring(L"app register ") + channel + L"--pid " + std::to_wstring(app.Pid()),
                                 30000));
        app.Kill();
        ASSERT_TRUE(WaitFor([&] { return m_table.Count() == 0; }, 5000));
    }
}

void CChannelFixture::ExpectTableHolds(const std::map<DWORD, std::wstring>& expected)
{
    const std::vector<DWORD> pids = m_table.Pids();
    EXPECT_EQ(static_cast<int>(expected.size()), m_table.Count());
    EXPECT_EQ(expected.size(), std::set<DWORD>(pids.begin(), pids.end()).size()) << "duplicate rows";
    for (size_t i = 0; i < pids.size(); ++i)
    {
        const auto it = expected.find(pids[i]);
        if (it == expected.end())
        {
            ADD_FAILURE() << "ghost row " << i + 1 << ": pid " << pids[i];
            continue;
        }
        EXPECT_EQ(it->second, m_table.Name(static_cast<int>(i) + 1)) << "row " << i + 1;
    }
}

} // namespace ChannelTest
