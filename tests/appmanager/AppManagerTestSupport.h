#pragma once
// Shared pieces of the app-manager tests: a test install with the Apps key,
// stand-in app processes, and a view of the shared app table.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>

#include "AppData.h"
#include "AppManager.h"
#include "TestEnv.h"

namespace AppTest
{

extern const wchar_t* const kAppsKey;

// A test install with an empty priority list.
class CAppsInstall : public TestEnv::CInstallFixture
{
public:
    CAppsInstall();
    // This executable's log file in the install.
    std::wstring OwnLog() const;
};

// A stand-in app: IdleApp.exe, or a copy of it under another name.
class CIdleApp
{
public:
    // exeName empty: IdleApp.exe from the build folder; otherwise a copy
    // with that name in `folder`.
    explicit CIdleApp(const std::wstring& args = std::wstring(), const std::wstring& folder = std::wstring(),
                      const std::wstring& exeName = std::wstring());
    DWORD Pid() const { return m_process.Pid(); }
    void Kill() { m_process.Kill(); }
    bool Running() { return m_process.Wait(0) == STILL_ACTIVE; }

private:
    TestEnv::CChildProcess m_process;
};

// The process id of a process that has exited.
DWORD DeadProcessId();

// A mapping of the shared table of our own, as another process would see it.
class CTableView
{
public:
    CTableView();
    // Maps the section if it exists now; true when mapped.
    bool Attach();
    bool IsValid() const { return m_view.IsValid(); }
    Common::CAppData::_APPTABLE* Table() const { return static_cast<Common::CAppData::_APPTABLE*>(m_view.Get()); }
    int Count() const { return Table() ? Table()->nCount : -1; }
    DWORD Active() const { return Table() ? Table()->rows[0].dwProcessId : 0; }
    // Process ids of rows 1..count (count bounded to the table).
    std::vector<DWORD> Pids() const;
    std::wstring Name(int row) const;

private:
    Common::CHandle m_mapping;
    Common::CMappedView m_view;
};

// Counts pulses of a named manual-reset event (opened or created) on a
// thread of its own.
class CPulseCounter
{
public:
    explicit CPulseCounter(const wchar_t* name);
    // Creates the event with the security of `sddl` (the creator's handle
    // still has full access); others open it as that security allows.
    CPulseCounter(const wchar_t* name, const wchar_t* sddl);
    ~CPulseCounter();
    long Count() const;

private:
    static DWORD WINAPI ThreadProc(LPVOID param);
    void Start();
    Common::CHandle m_event;
    Common::CHandle m_stop;
    Common::CHandle m_thread;
    volatile LONG m_count = 0;
};

size_t CountOf(const std::wstring& text, const std::wstring& what);

} // namespace AppTest
