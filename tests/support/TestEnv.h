#pragma once
// Helpers shared by the test executables: scratch folders, registry state
// that is put back after each test, and child processes.
#include <windows.h>
#include <string>
#include <vector>
#include "Handles.h"
#include "Registry.h"

namespace TestEnv
{

// The product's registry root, relative to HKEY_LOCAL_MACHINE.
extern const wchar_t* const kRootKey;

// A fresh folder under %TEMP%, removed with everything in it on destruction.
class CScratchDir
{
public:
    CScratchDir();
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Saves a registry key (32-bit view, HKLM) with all its values and subkeys,
// and puts it back exactly on destruction: removed if it was absent.
class CRegistrySnapshot
{
public:
    explicit CRegistrySnapshot(const std::wstring& keyPath);
    ~CRegistrySnapshot();
    CRegistrySnapshot(const CRegistrySnapshot&) = delete;
    CRegistrySnapshot& operator=(const CRegistrySnapshot&) = delete;

private:
    using CValue = Common::CRegValueCopy;
    using CKey = Common::CRegKeyCopy;
    std::wstring m_keyPath;
    bool m_existed = false;
    std::vector<CKey> m_keys;
};

// An install folder with "Logs" and "bin", recorded as "InstallPath" for the
// duration of a test; the root key is restored afterwards. The executable's
// own log writer is pointed at the folder and released from it again.
class CInstallFixture
{
public:
    CInstallFixture();
    ~CInstallFixture();
    const std::wstring& InstallPath() const { return m_dir.Path(); }
    std::wstring LogsDir() const { return m_dir / L"Logs"; }

private:
    CRegistrySnapshot m_snapshot;
    CScratchDir m_dir;
};

// Registry access for checks, through the 32-bit view.
bool RegReadString(const std::wstring& keyPath, const std::wstring& name, std::wstring& out);
bool RegReadDword(const std::wstring& keyPath, const std::wstring& name, DWORD& out);
bool RegKeyExists(const std::wstring& keyPath);
void RegDeleteTreeW32(const std::wstring& keyPath);
void RegWriteString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text);
void RegWriteDword(const std::wstring& keyPath, const std::wstring& name, DWORD value);
// A value of any type and size, creating the key.
void RegWriteValue(const std::wstring& keyPath, const std::wstring& name, DWORD type, const void* data, DWORD size);
void RegDeleteValueW32(const std::wstring& keyPath, const std::wstring& name);

// Folder of the running test executable (where all binaries of a build go).
std::wstring BinDir();
// Folder of the other architecture's binaries; empty when none is configured
// or when it is the 32-bit one and this machine cannot run 32-bit programs.
std::wstring PeerBinDir();
// Folder of the operator tool and probes a test pairs with: the other
// architecture's where it can run, else this build's own.
std::wstring PairedBinDir();

bool FileExists(const std::wstring& path);
// Reads a whole file; a UTF-16LE file without BOM as text.
std::wstring ReadUtf16File(const std::wstring& path);
std::vector<BYTE> ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const void* data, size_t size);
LONGLONG FileSize(const std::wstring& path);

// A child process; killed on destruction if still running.
class CChildProcess
{
public:
    CChildProcess() = default;
    ~CChildProcess();
    CChildProcess(CChildProcess&&) = default;
    CChildProcess& operator=(CChildProcess&&) = default;

    // Starts exe with the given command-line tail. Output goes to outputFile
    // when one is given, else to NUL.
    bool Start(const std::wstring& exe, const std::wstring& args,
               const std::wstring& outputFile = std::wstring());
    // Waits for the exit; returns the exit code, or STILL_ACTIVE on time-out.
    DWORD Wait(DWORD timeoutMs);
    // Ends the process if it still runs; the handle stays for Wait.
    void Kill();
    DWORD Pid() const { return m_pid; }
    HANDLE Handle() const { return m_process.Get(); }

private:
    Common::CHandle m_process;
    DWORD m_pid = 0;
};

// Runs exe to completion and returns its exit code (STILL_ACTIVE when it
// did not end in time); its standard output and error go into *output.
DWORD RunProcess(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs,
                 std::string* output = nullptr);

// Polls cond every 10 ms until it holds or timeoutMs passed.
template <typename F>
bool WaitFor(F cond, DWORD timeoutMs)
{
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    for (;;)
    {
        if (cond())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(10);
    }
}

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// Handles this process holds. GetProcessHandleCount answers 0 under Wine,
// so the system's handle list is counted then.
DWORD OwnHandleCount();
// Handles another process holds, from the system's handle list.
DWORD HandleCountOf(DWORD pid);

} // namespace TestEnv
