#include "RequestChannelHelpers.h"

#include <cwchar>
#include <mutex>

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

} // namespace ChannelTest
