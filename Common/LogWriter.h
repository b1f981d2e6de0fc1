#pragma once
// The log file writer. Each module holds its own writer, its
// own handle on InstallPath\Logs\(exe name).log and its own rotation.
//
// Concurrent writers:
//  - one lock per writer holds the open step, every write with its size check
//    and the rotation apart, so no thread writes through a handle that another
//    thread is closing or replacing;
//  - lines stay whole when other modules or processes append to the same file
//    through handles of their own: the file is opened for appending only
//    (FILE_APPEND_DATA without FILE_WRITE_DATA), so Windows puts every write
//    whole at the end, and each write is bracketed by an exclusive byte-range
//    lock far beyond the end of the file, which serialises all writers of this
//    kind (needed under Wine, whose append-only writes are not atomic).
//
// Write and WriteToFile leave the thread's last error as they found it.
//
// Formats are wide printf formats with msvcrt semantics: %s takes a wide
// string (wchar_t*), %hs a narrow one.
#include <windows.h>
#include <cstdarg>
#include <string>
#include <atomic>
#include "Handles.h"
#include "Locks.h"

namespace Common
{

enum : unsigned { LOG_FATAL = 0, LOG_ERROR = 1, LOG_WARN = 2, LOG_INFO = 3, LOG_DEBUG = 4 };

// Limits of the log format, in wide characters including the terminator.
constexpr size_t kLogMessageChars = 260;
constexpr size_t kLogLineChars = 512;
// A file larger than this after a write is rotated.
constexpr LONGLONG kLogRotateBytes = 5242880;

class CLogWriter
{
public:
    // The module's writer, created once (thread-safe); every call runs Open().
    static CLogWriter* GetInstance();

    CLogWriter();
    ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    void Write(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
    void WriteV(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format,
                va_list args);
    // The same line into InstallPath\Logs\(fileName), opened and closed per call.
    void WriteToFile(const wchar_t* fileName, unsigned level, const wchar_t* sourceFile, int line,
                     const wchar_t* format, ...);
    // "Error (%ld): %s" with the English system text; level 1, "AppManager.cpp".
    void LogWin32Error(DWORD code, int line);
    // "(%ld) 0x%08X: %s" of line, code and text; level 1, "AppManager.cpp". Returns code.
    DWORD LogErrorCode(DWORD code, int line);

    // The open step: looks up the path if it is still empty, opens the file if
    // it is not open. Safe against concurrent calls and writes.
    void Open();
    // Closes the file and forgets the path, so the next Open() looks both up
    // again. For tests (the singleton keeps its path for the process's life).
    void Reset();

    // Full path of the log file; empty until the install path has been read.
    // Read it only while no other thread runs Open() or Reset().
    const std::wstring& LogPath() const { return m_logPath; }
    bool IsOpen() const;

private:
    friend class CLogBatch;
    void WriteLine(const wchar_t* line, size_t chars);
    void WriteToFileV(const wchar_t* fileName, unsigned level, const wchar_t* sourceFile, int line,
                      const wchar_t* format, va_list args);
    void OpenLocked();

    mutable CSrwLock m_lock;           // guards m_file and m_logPath
    CSrwLock m_fileLock;               // serialises this module's WriteToFile calls
    std::atomic<bool> m_isOpen{false}; // fast path of Open(); set and cleared under m_lock
    CHandle m_file;
    std::wstring m_logPath;
};

// Lines one thread gathers and appends in one write (one lock, one flush)
// when the batch is flushed or destroyed, for bursts such as a line per
// device of a registry scan, where a flush per line would cost more than
// the work the lines report. Each line is formatted, time included, when
// it is added; a batch never holds more than kLogBatchChars.
constexpr size_t kLogBatchChars = 64 * 1024;

class CLogBatch
{
public:
    CLogBatch() = default;
    ~CLogBatch() { Flush(); }
    CLogBatch(const CLogBatch&) = delete;
    CLogBatch& operator=(const CLogBatch&) = delete;

    void Write(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) noexcept;
    void Flush() noexcept;

private:
    std::wstring m_text;
};

// Log file name for an executable path: spaces dropped, file part kept, ".log"
// appended ("C:\Program Files\My App\My Host.exe" -> "MyHost.exe.log").
std::wstring MakeLogFileName(const std::wstring& exePath);

// Composes one log line (without writing it) into out, which holds
// kLogLineChars characters; returns its length. Exposed for tests.
size_t FormatLogLine(wchar_t* out, unsigned level, const wchar_t* sourceFile, int line,
                     const wchar_t* format, va_list args);

} // namespace Common

#define KALEO_WIDEN2(x) L##x
#define KALEO_WIDEN(x) KALEO_WIDEN2(x)
#define KLOG(level, ...) \
    ::Common::CLogWriter::GetInstance()->Write((level), KALEO_WIDEN(__FILE__), __LINE__, __VA_ARGS__)
#define KLOG_BATCH(batch, level, ...) (batch).Write((level), KALEO_WIDEN(__FILE__), __LINE__, __VA_ARGS__)
