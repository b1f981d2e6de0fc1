#pragma once
// A child process of a benchmark: started with its standard output (and
// error) on a handle of ours, waited for with a limit, ended if it
// overruns. Only the handles given to Start are inheritable, and only
// until the child has been created.
#include <windows.h>

#include <string>

#include "Handles.h"
#include "PathText.h"

namespace BenchSupport
{

class CChildProcess
{
public:
    CChildProcess() = default;
    ~CChildProcess() { End(); }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    // output receives the child's stdout and stderr; stdin reads NUL.
    DWORD Start(const std::wstring& commandLine, HANDLE output)
    {
        Common::CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
        if (!input || !::SetHandleInformation(input.Get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !::SetHandleInformation(output, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
            return ::GetLastError();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = input.Get();
        startup.hStdOutput = output;
        startup.hStdError = output;
        PROCESS_INFORMATION created{};
        std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
        const BOOL ok = ::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                         nullptr, nullptr, &startup, &created);
        const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
        ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
        if (!ok)
            return error;
        ::CloseHandle(created.hThread);
        m_process.Reset(created.hProcess);
        return ERROR_SUCCESS;
    }

    // Signalled when the child ends (for waits on several objects).
    HANDLE Handle() const { return m_process.Get(); }

    bool IsRunning() const { return m_process && ::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT; }

    // True when the child has ended within timeoutMs.
    bool Wait(DWORD timeoutMs) const
    {
        return m_process && ::WaitForSingleObject(m_process.Get(), timeoutMs) == WAIT_OBJECT_0;
    }

    DWORD ExitCode() const
    {
        DWORD code = ERROR_INVALID_HANDLE;
        if (m_process)
            ::GetExitCodeProcess(m_process.Get(), &code);
        return code;
    }

    // Ends a child that is still running (ours alone: we hold its handle).
    void End()
    {
        if (IsRunning())
        {
            ::TerminateProcess(m_process.Get(), ERROR_TIMEOUT);
            ::WaitForSingleObject(m_process.Get(), 5000);
        }
    }

private:
    Common::CHandle m_process;
};

// The path of this executable.
inline std::wstring OwnExecutablePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;)
    {
        const DWORD length = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length < path.size())
        {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The folder part of a path, without its last separator.
inline std::wstring FolderOf(const std::wstring& path)
{
    // A bare file name lies in the current folder.
    return path.find_first_of(L"\\/") == std::wstring::npos ? std::wstring(L".") : Common::FolderPart(path);
}

inline std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

} // namespace BenchSupport
