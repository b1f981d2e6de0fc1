#include "Attack.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "TestEnv.h"

#ifndef KALEO_ROBUSTNESS_LEDGER
#define KALEO_ROBUSTNESS_LEDGER L""
#endif

namespace Robustness
{
namespace
{
const DWORD kHandleGraceMs = 10000;
const UINT kCrashExitCode = 0xC0DE0001;
const UINT kHangExitCode = 0xC0DE0002;

// What the crash filter and the watchdog need, kept in plain storage: they
// run when the process can no longer be trusted to allocate or lock.
struct CCurrentCase
{
    char crashRow[512];
    char hangRow[512];
    std::atomic<ULONGLONG> deadline{0};
};
CCurrentCase g_current;
std::atomic<bool> g_armed{false};

// One row: channel, case, tried, crashes, hangs, handles leaked, items lost.
void AppendRow(const char* row)
{
    if (!*KALEO_ROBUSTNESS_LEDGER)
        return;
    const Common::CHandle file(::CreateFileW(KALEO_ROBUSTNESS_LEDGER, FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    ::WriteFile(file.Get(), row, static_cast<DWORD>(std::strlen(row)), &written, nullptr);
}

void FormatRow(char* out, size_t size, const std::string& channel, const std::string& name, unsigned crashes,
               unsigned hangs, unsigned leaked, unsigned lost)
{
    std::snprintf(out, size, "%s\t%s\t1\t%u\t%u\t%u\t%u\n", channel.c_str(), name.c_str(), crashes, hangs, leaked,
                  lost);
}

void SetPendingRows(const std::string& channel, const std::string& name)
{
    FormatRow(g_current.crashRow, sizeof(g_current.crashRow), channel, name, 1, 0, 0, 0);
    FormatRow(g_current.hangRow, sizeof(g_current.hangRow), channel, name, 0, 1, 0, 0);
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info)
{
    std::fprintf(stderr, "crash 0x%08lx during a hostile case\n",
                 static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode));
    if (g_current.deadline.exchange(0) != 0)
        AppendRow(g_current.crashRow);
    ::TerminateProcess(::GetCurrentProcess(), kCrashExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(LPVOID)
{
    for (;;)
    {
        ::Sleep(250);
        const ULONGLONG deadline = g_current.deadline.load();
        if (deadline == 0 || ::GetTickCount64() < deadline || g_current.deadline.exchange(0) == 0)
            continue;
        std::fprintf(stderr, "a hostile case ran past its limit: recorded as a hang\n");
        std::fflush(stderr);
        AppendRow(g_current.hangRow);
        ::TerminateProcess(::GetCurrentProcess(), kHangExitCode);
    }
}

// The crash filter and the watchdog serve every case of the process.
void ArmOnce()
{
    if (g_armed.exchange(true))
        return;
    ::SetUnhandledExceptionFilter(OnCrash);
    // Lives as long as the process; nobody joins it.
    const Common::CHandle thread(::CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr));
}
} // namespace

CAttack::CAttack(const char* channel, const std::string& name, DWORD targetPid, DWORD limitMs)
    : m_channel(channel), m_name(name), m_pid(targetPid ? targetPid : ::GetCurrentProcessId())
{
    ArmOnce();
    if (targetPid)
        m_target.Reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, targetPid));
    m_baseline = CountHandles();
    // Until the case finishes, a crash or the watchdog records it as such.
    SetPendingRows(m_channel, m_name);
    g_current.deadline = ::GetTickCount64() + limitMs;
}

CAttack::~CAttack()
{
    Finish();
}

void CAttack::Hang()
{
    ++m_hangs;
}

void CAttack::Lost(unsigned count)
{
    m_lost += count;
}

void CAttack::Allow(unsigned handles)
{
    m_allowed += handles;
}

DWORD CAttack::CountHandles() const
{
    return m_pid == ::GetCurrentProcessId() ? TestEnv::OwnHandleCount() : TestEnv::HandleCountOf(m_pid);
}

void CAttack::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    const bool crashed = m_target.IsValid() && ::WaitForSingleObject(m_target.Get(), 0) == WAIT_OBJECT_0;
    const DWORD limit = m_baseline + m_allowed;
    DWORD now = m_baseline;
    if (!crashed)
        TestEnv::WaitFor([&] { return (now = CountHandles()) <= limit; }, kHandleGraceMs);
    const unsigned leaked = now > limit ? now - limit : 0;
    g_current.deadline = 0;

    char row[sizeof(g_current.crashRow)];
    FormatRow(row, sizeof(row), m_channel, m_name, crashed ? 1 : 0, m_hangs, leaked, m_lost);
    AppendRow(row);
    EXPECT_FALSE(crashed) << m_channel << " / " << m_name << ": the process under attack ended";
    EXPECT_EQ(0u, m_hangs) << m_channel << " / " << m_name << ": waits that expired";
    EXPECT_EQ(0u, leaked) << m_channel << " / " << m_name << ": handles " << m_baseline << " before, " << now
                          << " after, " << m_allowed << " kept by the platform";
    EXPECT_EQ(0u, m_lost) << m_channel << " / " << m_name << ": items lost";
}

} // namespace Robustness
