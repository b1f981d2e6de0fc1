// The log file writer; LogWriter.h explains how concurrent writers are kept
// apart.
#include "LogWriter.h"

#include <new>
#include "PathText.h"
#include "Registry.h"

#include <cstdio>
#include <cwchar>

namespace Common
{
namespace
{

const wchar_t* const kLabels[] = { L"FATAL", L"ERROR", L"WARN", L"INFO", L"DEBUG" };

// Read access plus every write right except FILE_WRITE_DATA: with
// FILE_APPEND_DATA alone the system puts each write at the current end of the
// file in one step, whatever other handles wrote meanwhile.
constexpr DWORD kLogAccess =
    GENERIC_READ | (FILE_GENERIC_WRITE & ~static_cast<DWORD>(FILE_WRITE_DATA));

// Formats into buf (count characters including the terminator) with msvcrt
// semantics (%s = wide string); always terminates, cuts what does not fit.
// Returns the length.
size_t FormatBounded(wchar_t* buf, size_t count, const wchar_t* format, va_list args)
{
    if (count == 0)
        return 0;
    buf[0] = L'\0';
    if (format == nullptr)
        return 0;
    // Zero first: on overflow (-1) msvcrt leaves no terminator, and on a
    // format error the text written so far is all there is.
    ::wmemset(buf, L'\0', count);
    ::_vsnwprintf(buf, count - 1, format, args);
    buf[count - 1] = L'\0';
    return ::wcsnlen(buf, count - 1);
}

size_t FormatBoundedF(wchar_t* buf, size_t count, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = FormatBounded(buf, count, format, args);
    va_end(args);
    return n;
}

const wchar_t* BaseName(const wchar_t* path)
{
    if (path == nullptr)
        return L"";
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            base = p + 1;
    return base;
}

// InstallPath\Logs\name, or false when the install path cannot be read.
bool LogsFile(const std::wstring& name, std::wstring& out)
{
    std::wstring path;
    if (!GetInstallPath(path))
        return false;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += L"Logs\\";
    path += name;
    out.swap(path);
    return true;
}

HANDLE OpenLogFile(const wchar_t* path)
{
    HANDLE h = ::CreateFileW(path, kLogAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        ::SetLastError(0);
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(h, zero, nullptr, FILE_END);
    return h;
}

// One byte far beyond any real file size, locked exclusively around each
// write: it holds apart the writers of all modules and processes that log
// into one file. Windows already appends whole with FILE_APPEND_DATA; Wine 8
// does not (it takes the size, then writes there), so without the lock two
// handles overwrite each other's lines.
constexpr DWORD kLockOffsetLow = 0xFFFFFFF0u;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;
// A healthy writer holds the lock for one line; under contention the wait
// is for the lines queued before ours. A writer that holds it far longer is
// stuck (or hostile): lines then go out without the lock (kept, perhaps
// interleaved) after kLockWaitMs, and while it stays stuck each further line
// tries only for kStuckLockWaitMs, so the peer cannot slow every line down.
// The first line that gets the lock again ends that mode.
constexpr ULONGLONG kLockWaitMs = 500;
constexpr ULONGLONG kStuckLockWaitMs = 10;
std::atomic<bool> g_lockStuck{false};

bool TryLockAppend(HANDLE h)
{
    OVERLAPPED ov = {};
    ov.Offset = kLockOffsetLow;
    ov.OffsetHigh = kLockOffsetHigh;
    return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov) != FALSE;
}

// Takes the append lock; false when it could not be had (the line is then
// written without it rather than dropped or the caller stalled).
bool LockAppend(HANDLE h)
{
    const bool stuck = g_lockStuck.load();
    const ULONGLONG limit = stuck ? kStuckLockWaitMs : kLockWaitMs;
    const ULONGLONG start = ::GetTickCount64();
    for (unsigned attempt = 0;; ++attempt)
    {
        if (TryLockAppend(h))
        {
            if (stuck)
                g_lockStuck.store(false);
            return true;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            return false;
        if (::GetTickCount64() - start >= limit)
        {
            g_lockStuck.store(true);
            return false;
        }
        if (attempt < 16)
            ::SwitchToThread();
        else
            ::Sleep(1);
    }
}

void UnlockAppend(HANDLE h)
{
    OVERLAPPED ov = {};
    ov.Offset = kLockOffsetLow;
    ov.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(h, 0, 1, 0, &ov);
}

// Seeks to the end and writes the line in one call, then flushes it.
void AppendLine(HANDLE h, const wchar_t* line, size_t chars)
{
    const bool locked = LockAppend(h);
    LARGE_INTEGER zero = {};
    ::SetFilePointerEx(h, zero, nullptr, FILE_END);
    DWORD written = 0;
    ::WriteFile(h, line, static_cast<DWORD>(chars * sizeof(wchar_t)), &written, nullptr);
    ::FlushFileBuffers(h);
    if (locked)
        UnlockAppend(h);
}

bool OverThreshold(HANDLE h)
{
    LARGE_INTEGER size = {};
    return ::GetFileSizeEx(h, &size) && size.QuadPart > kLogRotateBytes;
}

// Rotation: _5 deleted, _4.._1 moved up one, the log itself becomes _1.
void ShuffleBackups(const wchar_t* path)
{
    wchar_t from[MAX_PATH];
    wchar_t to[MAX_PATH];
    // A name that does not fit is skipped rather than cut: a cut name would
    // rename the wrong file.
    auto backup = [path](wchar_t* buf, int n) {
        int r = ::_snwprintf(buf, MAX_PATH, L"%s_%d.bak", path, n);
        if (r < 0 || r >= static_cast<int>(MAX_PATH))
        {
            buf[0] = L'\0';
            return false;
        }
        return true;
    };
    if (backup(to, 5))
        ::DeleteFileW(to);
    for (int n = 4; n >= 1; --n)
    {
        if (!backup(from, n) || !backup(to, n + 1))
            continue;
        if (::GetFileAttributesW(from) != INVALID_FILE_ATTRIBUTES)
            ::MoveFileW(from, to);
    }
    if (backup(to, 1))
        ::MoveFileW(path, to);
}

std::wstring ExecutablePath()
{
    wchar_t buf[MAX_PATH] = {};
    DWORD n = ::GetModuleFileNameW(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::wstring();
    return std::wstring(buf, n);
}

// The system's English text for code, or empty.
std::wstring SystemText(DWORD code)
{
    CLocalMem mem;
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 1033, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    mem.Reset(reinterpret_cast<HLOCAL>(text));
    if (n == 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, n);
}

} // namespace

std::wstring MakeLogFileName(const std::wstring& exePath)
{
    std::wstring noSpaces;
    noSpaces.reserve(exePath.size() + 4);
    for (wchar_t c : exePath)
        if (c != L' ')
            noSpaces += c;
    std::wstring name = FileNamePart(noSpaces);
    name += L".log";
    return name;
}

size_t FormatLogLine(wchar_t* out, unsigned level, const wchar_t* sourceFile, int line,
                     const wchar_t* format, va_list args)
{
    // The message, cut to 259 characters; a trailing CR-LF goes.
    wchar_t message[kLogMessageChars];
    size_t len = FormatBounded(message, kLogMessageChars, format, args);
    if (len >= 2 && message[len - 2] == L'\r' && message[len - 1] == L'\n')
    {
        len -= 2;
        message[len] = L'\0';
    }

    // Local date and time.
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    wchar_t date[24];
    wchar_t time[24];
    FormatBoundedF(date, 24, L"%4d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
    FormatBoundedF(time, 24, L"%02d:%02d:%02d:%03d", st.wHour, st.wMinute, st.wSecond,
                   st.wMilliseconds);

    // The text goes into the first 509 characters, the line end
    // after it, so even a cut line is terminated and ends in CR-LF.
    if (level > LOG_DEBUG)
        level = LOG_DEBUG;
    const size_t room = kLogLineChars - 2;  // text + terminator
    size_t n;
    if (level == LOG_WARN || level == LOG_INFO)
        n = FormatBoundedF(out, room, L"%s,%s,%s,,%s", date, time, kLabels[level], message);
    else
        n = FormatBoundedF(out, room, L"%s,%s,%s,%s (%d),%s", date, time, kLabels[level],
                           BaseName(sourceFile), line, message);
    out[n++] = L'\r';
    out[n++] = L'\n';
    out[n] = L'\0';
    return n;
}

CLogWriter* CLogWriter::GetInstance()
{
    // Callers pass GetLastError() as an argument, evaluated after this call:
    // the open step must leave the thread's last error as it found it.
    const DWORD lastError = ::GetLastError();
    static CLogWriter instance;  // thread-safe one-time creation
    instance.Open();
    ::SetLastError(lastError);
    return &instance;
}

CLogWriter::CLogWriter() = default;

CLogWriter::~CLogWriter()
{
    // No lock: at process exit another thread may have died holding it.
    m_file.Reset();
}

bool CLogWriter::IsOpen() const
{
    CSrwLock::CSharedLock guard(m_lock);
    return m_file.IsValid();
}

void CLogWriter::Open()
{
    if (m_isOpen.load())
        return;
    CSrwLock::CScopedLock guard(m_lock);
    OpenLocked();
}

void CLogWriter::OpenLocked()
{
    if (m_file.IsValid())
        return;
    // The path is looked up once, and again after a failed lookup.
    if (m_logPath.empty())
    {
        try
        {
            const std::wstring exe = ExecutablePath();
            std::wstring path;
            if (exe.empty() || !LogsFile(MakeLogFileName(exe), path) || path.size() >= MAX_PATH)
                return;
            m_logPath.swap(path);
        }
        catch (...)
        {
            return;  // out of memory: the path stays empty, tried again next time
        }
    }
    m_file.Reset(OpenLogFile(m_logPath.c_str()));
    if (m_file.IsValid())
        m_isOpen.store(true);
}

void CLogWriter::Reset()
{
    CSrwLock::CScopedLock guard(m_lock);
    m_isOpen.store(false);
    m_file.Reset();
    m_logPath.clear();
}

void CLogWriter::Write(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format,
                       ...)
{
    va_list args;
    va_start(args, format);
    WriteV(level, sourceFile, line, format, args);
    va_end(args);
}

void CLogWriter::WriteV(unsigned level, const wchar_t* sourceFile, int line,
                        const wchar_t* format, va_list args)
{
    const DWORD lastError = ::GetLastError();  // a log line leaves it alone
    wchar_t text[kLogLineChars];
    const size_t chars = FormatLogLine(text, level, sourceFile, line, format, args);
    WriteLine(text, chars);
    ::SetLastError(lastError);
}

void CLogWriter::WriteLine(const wchar_t* line, size_t chars)
{
    CSrwLock::CScopedLock guard(m_lock);
    // Without a file (no install path or Logs folder yet) the line is dropped.
    if (!m_file.IsValid())
        return;
    AppendLine(m_file.Get(), line, chars);
    // Rotation check.
    if (!OverThreshold(m_file.Get()))
        return;
    ::FlushFileBuffers(m_file.Get());
    m_isOpen.store(false);
    m_file.Reset();
    ShuffleBackups(m_logPath.c_str());
    m_file.Reset(OpenLogFile(m_logPath.c_str()));
    if (m_file.IsValid())
        m_isOpen.store(true);
}

void CLogBatch::Write(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format, ...) noexcept
{
    const DWORD lastError = ::GetLastError();
    wchar_t text[kLogLineChars];
    va_list args;
    va_start(args, format);
    const size_t chars = FormatLogLine(text, level, sourceFile, line, format, args);
    va_end(args);
    if (m_text.size() + chars > kLogBatchChars)
        Flush();
    try
    {
        m_text.append(text, chars);
    }
    catch (const std::bad_alloc&)
    {
        CLogWriter::GetInstance()->WriteLine(text, chars); // not lost, only not batched
    }
    ::SetLastError(lastError);
}

void CLogBatch::Flush() noexcept
{
    if (m_text.empty())
        return;
    const DWORD lastError = ::GetLastError();
    CLogWriter::GetInstance()->WriteLine(m_text.data(), m_text.size());
    m_text.clear();
    ::SetLastError(lastError);
}

void CLogWriter::WriteToFile(const wchar_t* fileName, unsigned level, const wchar_t* sourceFile,
                             int line, const wchar_t* format, ...)
{
    const DWORD lastError = ::GetLastError();
    va_list args;
    va_start(args, format);
    WriteToFileV(fileName, level, sourceFile, line, format, args);
    va_end(args);
    ::SetLastError(lastError);
}

void CLogWriter::WriteToFileV(const wchar_t* fileName, unsigned level, const wchar_t* sourceFile,
                              int line, const wchar_t* format, va_list args)
{
    if (fileName == nullptr || *fileName == L'\0')
        return;
    std::wstring path;
    try
    {
        if (!LogsFile(fileName, path))
            return;
    }
    catch (...)
    {
        return;
    }
    // Opened and closed per call; the lock keeps this module's threads from rotating the
    // file under each other.
    CSrwLock::CScopedLock guard(m_fileLock);
    CHandle file(OpenLogFile(path.c_str()));
    if (!file.IsValid())
        return;
    wchar_t text[kLogLineChars];
    const size_t chars = FormatLogLine(text, level, sourceFile, line, format, args);
    AppendLine(file.Get(), text, chars);
    if (OverThreshold(file.Get()))
    {
        ::FlushFileBuffers(file.Get());
        file.Reset();
        ShuffleBackups(path.c_str());
    }
}

void CLogWriter::LogWin32Error(DWORD code, int line)
{
    std::wstring text;
    try
    {
        text = SystemText(code);
    }
    catch (...)
    {
    }
    Write(LOG_ERROR, L"AppManager.cpp", line, L"Error (%ld): %s", static_cast<long>(code),
          text.c_str());
}

DWORD CLogWriter::LogErrorCode(DWORD code, int line)
{
    std::wstring text;
    try
    {
        text = SystemText(code);
    }
    catch (...)
    {
    }
    Write(LOG_ERROR, L"AppManager.cpp", line, L"(%ld) 0x%08X: %s", static_cast<long>(line),
          static_cast<unsigned>(code), text.c_str());
    return code;
}

} // namespace Common
