// Tests of the log file writer, including its writer lock and whole lines
// with several writers on one file.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "LogWriter.h"
#include "TestEnv.h"

using Common::CLogWriter;
using TestEnv::Narrow;

namespace
{

// ---------------------------------------------------------------------------
// Helpers

std::wstring ExeLogName()
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    return Common::MakeLogFileName(exe);
}

// The file split into lines at CR-LF; *tail receives what follows the last
// CR-LF (empty when the file ends in one).
std::vector<std::wstring> SplitLines(const std::wstring& text, std::wstring* tail = nullptr)
{
    std::vector<std::wstring> lines;
    size_t pos = 0;
    for (;;)
    {
        const size_t end = text.find(L"\r\n", pos);
        if (end == std::wstring::npos)
            break;
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    if (tail)
        *tail = text.substr(pos);
    return lines;
}

std::vector<std::wstring> ReadLines(const std::wstring& path)
{
    std::wstring tail;
    std::vector<std::wstring> lines = SplitLines(TestEnv::ReadUtf16File(path), &tail);
    EXPECT_TRUE(tail.empty()) << "file does not end in CR-LF: " << Narrow(path);
    return lines;
}

struct CLine
{
    std::wstring date, time, label, location, message;
};

// Splits a line (without its CR-LF) into its five fields; the message is
// everything after the fourth comma.
bool ParseLine(const std::wstring& line, CLine& out)
{
    size_t commas[4];
    size_t pos = 0;
    for (size_t& c : commas)
    {
        c = line.find(L',', pos);
        if (c == std::wstring::npos)
            return false;
        pos = c + 1;
    }
    out.date = line.substr(0, commas[0]);
    out.time = line.substr(commas[0] + 1, commas[1] - commas[0] - 1);
    out.label = line.substr(commas[1] + 1, commas[2] - commas[1] - 1);
    out.location = line.substr(commas[2] + 1, commas[3] - commas[2] - 1);
    out.message = line.substr(commas[3] + 1);
    return true;
}

bool WellFormedDateTime(const CLine& l)
{
    static const std::regex date("[0-9]{4}-[0-9]{2}-[0-9]{2}");
    static const std::regex time("[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3}");
    return std::regex_match(Narrow(l.date), date) && std::regex_match(Narrow(l.time), time);
}

// The single line of a file that holds exactly one.
CLine OnlyLine(const std::wstring& path)
{
    CLine l;
    const std::vector<std::wstring> lines = ReadLines(path);
    EXPECT_EQ(1u, lines.size());
    if (lines.size() == 1)
    {
        EXPECT_TRUE(ParseLine(lines[0], l)) << Narrow(lines[0]);
        EXPECT_TRUE(WellFormedDateTime(l)) << Narrow(lines[0]);
    }
    return l;
}

void PreSize(const std::wstring& path, size_t bytes, BYTE fill = 'P')
{
    std::vector<BYTE> data(bytes, fill);
    TestEnv::WriteFileBytes(path, data.data(), data.size());
}

std::wstring Backup(const std::wstring& log, int n)
{
    return log + L"_" + std::to_wstring(n) + L".bak";
}

void WriteText(const std::wstring& path, const std::wstring& text)
{
    TestEnv::WriteFileBytes(path, text.data(), text.size() * sizeof(wchar_t));
}

// A line whose byte length depends on the message only (level 3 has no
// location field; date and time fields have fixed width).
void WriteProbe(CLogWriter& w, const wchar_t* message = L"probe line")
{
    w.Write(Common::LOG_INFO, L"c:\\src\\Probe.cpp", 1, L"%s", message);
}

size_t FormatToBuffer(wchar_t* out, unsigned level, const wchar_t* source, int line,
                      const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    size_t n = Common::FormatLogLine(out, level, source, line, format, args);
    va_end(args);
    return n;
}

// Every test runs in a scratch install folder with Logs and bin.
class LogFixture : public ::testing::Test
{
protected:
    std::wstring LogFile() const { return m_install.LogsDir() + L"\\" + ExeLogName(); }
    TestEnv::CInstallFixture m_install;
};

} // namespace

// ===========================================================================
// Line form per level

using LogLineForm = LogFixture;

TEST_F(LogLineForm, InfoLineHasEmptyLocationField)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_INFO, L"c:\\x\\Info.cpp", 12, L"%s | START", L"CFoo::Bar");
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L",INFO,,CFoo::Bar | START"));
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"INFO", l.label);
    EXPECT_EQ(L"", l.location);
    EXPECT_EQ(L"CFoo::Bar | START", l.message);
}

TEST_F(LogLineForm, WarnLineHasEmptyLocationField)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_WARN, L"c:\\x\\Warn.cpp", 3, L"careful");
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"WARN", l.label);
    EXPECT_EQ(L"", l.location);
    EXPECT_EQ(L"careful", l.message);
}

TEST_F(LogLineForm, ErrorLineNamesSourceBaseAndLine)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_ERROR, L"c:\\a\\b\\Module.ext", 27, L"failed | %d", 5);
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"ERROR", l.label);
    EXPECT_EQ(L"Module.ext (27)", l.location);
    EXPECT_EQ(L"failed | 5", l.message);
}

TEST_F(LogLineForm, FatalAndDebugCarryLocation)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_FATAL, L"c:\\a\\Fatal.cpp", 1, L"f");
    // Forward slashes, as the cross compiler's __FILE__ has them.
    w.Write(Common::LOG_DEBUG, L"/work/main/Core/Dbg.cpp", -4, L"d");
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(2u, lines.size());
    CLine a, b;
    ASSERT_TRUE(ParseLine(lines[0], a));
    ASSERT_TRUE(ParseLine(lines[1], b));
    EXPECT_EQ(L"FATAL", a.label);
    EXPECT_EQ(L"Fatal.cpp (1)", a.location);
    EXPECT_EQ(L"DEBUG", b.label);
    EXPECT_EQ(L"Dbg.cpp (-4)", b.location);
}

TEST_F(LogLineForm, LevelSevenAndAboveWrittenAsDebugWithLocation)
{
    CLogWriter w;
    w.Open();
    w.Write(7, L"c:\\a\\Seven.cpp", 70, L"seven");
    w.Write(0xFFFFFFFFu, L"c:\\a\\Max.cpp", 71, L"max");
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(2u, lines.size());
    CLine a, b;
    ASSERT_TRUE(ParseLine(lines[0], a));
    ASSERT_TRUE(ParseLine(lines[1], b));
    EXPECT_EQ(L"DEBUG", a.label);
    EXPECT_EQ(L"Seven.cpp (70)", a.location);
    EXPECT_EQ(L"seven", a.message);
    EXPECT_EQ(L"DEBUG", b.label);
    EXPECT_EQ(L"Max.cpp (71)", b.location);
}

TEST_F(LogLineForm, WideFormatSpecifiersFollowMsvcrt)
{
    // %s in a wide format is a wide string (msvcrt), %hs a narrow one.
    CLogWriter w;
    w.Open();
    const std::wstring name = L"CAppManager::Init";
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s | %d %ld 0x%08X %hs %ls %u", name.c_str(), -12,
            123456789L, 0xBEEFu, "narrow", L"wide", 42u);
    EXPECT_EQ(L"CAppManager::Init | -12 123456789 0x0000BEEF narrow wide 42",
              OnlyLine(LogFile()).message);
}

TEST_F(LogLineForm, MessageCutAt259Characters)
{
    CLogWriter w;
    w.Open();
    const std::wstring longText(300, L'a');
    const std::wstring exact(259, L'b');
    const std::wstring oneMore(260, L'c');
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", longText.c_str());
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", exact.c_str());
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", oneMore.c_str());
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(3u, lines.size());
    CLine l;
    ASSERT_TRUE(ParseLine(lines[0], l));
    EXPECT_EQ(std::wstring(259, L'a'), l.message);
    ASSERT_TRUE(ParseLine(lines[1], l));
    EXPECT_EQ(exact, l.message);
    ASSERT_TRUE(ParseLine(lines[2], l));
    EXPECT_EQ(std::wstring(259, L'c'), l.message);
}

TEST_F(LogLineForm, TrailingCrLfRemovedLoneLfKept)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"crlf\r\n");
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"lf\n");
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"\r\n");
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"cr\r");
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"two\r\n\r\n");
    const std::wstring text = TestEnv::ReadUtf16File(LogFile());
    std::wstring tail;
    const std::vector<std::wstring> lines = SplitLines(text, &tail);
    EXPECT_TRUE(tail.empty());
    // "two\r\n\r\n" loses one CR-LF only, so it splits into two lines here.
    ASSERT_EQ(6u, lines.size()) << Narrow(text);
    CLine l;
    ASSERT_TRUE(ParseLine(lines[0], l));
    EXPECT_EQ(L"crlf", l.message);
    ASSERT_TRUE(ParseLine(lines[1], l));
    EXPECT_EQ(L"lf\n", l.message);  // the lone LF stands before the line's CR-LF
    ASSERT_TRUE(ParseLine(lines[2], l));
    EXPECT_EQ(L"", l.message);
    ASSERT_TRUE(ParseLine(lines[3], l));
    EXPECT_EQ(L"cr\r", l.message);
    ASSERT_TRUE(ParseLine(lines[4], l));
    EXPECT_EQ(L"two", l.message);
    EXPECT_EQ(L"", lines[5]);
    EXPECT_NE(std::wstring::npos, text.find(L",lf\n\r\n"));
}

TEST_F(LogLineForm, OverlongLineCutSafelyEndingInCrLf)
{
    // A source base name of 600 characters and a full message overflow the
    // 512-character line buffer.
    const std::wstring source = L"c:\\src\\" + std::wstring(600, L'S') + L".cpp";
    const std::wstring message(259, L'm');
    wchar_t buf[Common::kLogLineChars + 8];
    std::fill(std::begin(buf), std::end(buf), L'#');
    const size_t n = FormatToBuffer(buf, Common::LOG_ERROR, source.c_str(), 9, L"%s",
                                    message.c_str());
    EXPECT_EQ(Common::kLogLineChars - 1, n);
    EXPECT_EQ(L'\0', buf[n]);
    EXPECT_EQ(L'\r', buf[n - 2]);
    EXPECT_EQ(L'\n', buf[n - 1]);
    for (size_t i = Common::kLogLineChars; i < Common::kLogLineChars + 8; ++i)
        EXPECT_EQ(L'#', buf[i]) << "written past the line buffer at " << i;

    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_ERROR, source.c_str(), 9, L"%s", message.c_str());
    w.Write(Common::LOG_ERROR, L"Next.cpp", 10, L"next");
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(Common::kLogLineChars - 3, lines[0].size());  // 511 with its CR-LF
    CLine l;
    ASSERT_TRUE(ParseLine(lines[1], l));
    EXPECT_EQ(L"Next.cpp (10)", l.location);
}

TEST_F(LogLineForm, NullArgumentsAreHarmless)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_ERROR, nullptr, 1, nullptr);
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L" (1)", l.location);
    EXPECT_EQ(L"", l.message);
}

TEST_F(LogLineForm, FileIsUtf16LeWithoutBom)
{
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", L"\u00e9\u4e2d");
    const std::vector<BYTE> bytes = TestEnv::ReadFileBytes(LogFile());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_FALSE(bytes[0] == 0xFF && bytes[1] == 0xFE) << "byte-order mark written";
    EXPECT_TRUE(bytes[0] >= '0' && bytes[0] <= '9' && bytes[1] == 0);  // year digit
    const size_t n = bytes.size();
    // ... 0xE9 0x00, 0x2D 0x4E, '\r' 0, '\n' 0
    EXPECT_EQ(0xE9, bytes[n - 8]);
    EXPECT_EQ(0x00, bytes[n - 7]);
    EXPECT_EQ(0x2D, bytes[n - 6]);
    EXPECT_EQ(0x4E, bytes[n - 5]);
    EXPECT_EQ('\r', bytes[n - 4]);
    EXPECT_EQ('\n', bytes[n - 2]);
}

TEST_F(LogLineForm, LinesAppendToExistingFile)
{
    WriteText(LogFile(), L"old line\r\n");
    CLogWriter w;
    w.Open();
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"new");
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"old line", lines[0]);
}

TEST_F(LogLineForm, BatchAppearsWholeInOrderOnFlushAndNeverGrowsPastItsBound)
{
    Common::CLogWriter::GetInstance()->Write(Common::LOG_INFO, L"x.cpp", 1, L"before");
    std::vector<std::wstring> lines;
    {
        Common::CLogBatch batch;
        for (int i = 0; i < 3; ++i)
            batch.Write(Common::LOG_INFO, L"x.cpp", 1, L"line %d", i);
        EXPECT_EQ(1u, ReadLines(LogFile()).size()); // held until flushed
        batch.Flush();
        lines = ReadLines(LogFile());
        ASSERT_EQ(4u, lines.size());
        for (int i = 0; i < 3; ++i)
            EXPECT_NE(std::wstring::npos, lines[1 + i].find(L",INFO,,line " + std::to_wstring(i)));

        // A burst larger than the bound goes out in parts, each line whole.
        const std::wstring long_(200, L'x');
        const size_t burst = 2 * Common::kLogBatchChars / 200;
        for (size_t i = 0; i < burst; ++i)
            batch.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", long_.c_str());
        EXPECT_GT(ReadLines(LogFile()).size(), 4u);
        EXPECT_LT(ReadLines(LogFile()).size(), 4u + burst);
    }
    lines = ReadLines(LogFile()); // the rest on destruction
    ASSERT_EQ(4u + 2 * Common::kLogBatchChars / 200, lines.size());
    EXPECT_NE(std::wstring::npos, lines.back().find(std::wstring(200, L'x')));
}

TEST_F(LogLineForm, WriteKeepsCallersLastError)
{
    CLogWriter w;
    w.Open();
    ::SetLastError(1234);
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"x");
    EXPECT_EQ(1234u, ::GetLastError());
    ::SetLastError(4321);
    w.WriteToFile(L"Debug_1.log", Common::LOG_INFO, L"x.cpp", 1, L"x");
    EXPECT_EQ(4321u, ::GetLastError());
}

TEST_F(LogLineForm, WriteToFileWritesNamedFileFreshEachCall)
{
    CLogWriter w;  // never opened: its own file and path are not used
    w.WriteToFile(L"Debug_7.log", Common::LOG_DEBUG, L"c:\\p\\Pipe.cpp", 40, L"data %d", 1);
    w.WriteToFile(L"Debug_7.log", Common::LOG_INFO, L"c:\\p\\Pipe.cpp", 41, L"data %d", 2);
    const std::wstring debugFile = m_install.LogsDir() + L"\\Debug_7.log";
    const std::vector<std::wstring> lines = ReadLines(debugFile);
    ASSERT_EQ(2u, lines.size());
    CLine a, b;
    ASSERT_TRUE(ParseLine(lines[0], a));
    ASSERT_TRUE(ParseLine(lines[1], b));
    EXPECT_EQ(L"Pipe.cpp (40)", a.location);
    EXPECT_EQ(L"data 1", a.message);
    EXPECT_EQ(L"", b.location);
    EXPECT_EQ(L"data 2", b.message);
    EXPECT_TRUE(w.LogPath().empty());
    EXPECT_FALSE(TestEnv::FileExists(LogFile()));
    // Closed after each call: the test can delete it.
    EXPECT_TRUE(::DeleteFileW(debugFile.c_str()));
}

TEST_F(LogLineForm, WriteToFileWithoutNameOrLogsFolderWritesNothing)
{
    CLogWriter w;
    w.WriteToFile(L"", Common::LOG_INFO, L"x.cpp", 1, L"x");
    w.WriteToFile(nullptr, Common::LOG_INFO, L"x.cpp", 1, L"x");
    ASSERT_TRUE(::RemoveDirectoryW(m_install.LogsDir().c_str()));
    w.WriteToFile(L"Debug_1.log", Common::LOG_INFO, L"x.cpp", 1, L"x");
    EXPECT_FALSE(TestEnv::FileExists(m_install.LogsDir()));
}

// ===========================================================================
// Rotation

using LogRotation = LogFixture;

namespace
{
// Byte length of one probe line.
LONGLONG ProbeLineBytes(const std::wstring& log)
{
    {
        CLogWriter w;
        w.Open();
        WriteProbe(w);
    }
    const LONGLONG bytes = TestEnv::FileSize(log);
    ::DeleteFileW(log.c_str());
    return bytes;
}
} // namespace

TEST_F(LogRotation, ExactlyThresholdAfterWriteIsNotRotated)
{
    const LONGLONG line = ProbeLineBytes(LogFile());
    ASSERT_GT(line, 0);
    PreSize(LogFile(), static_cast<size_t>(Common::kLogRotateBytes - line));
    CLogWriter w;
    w.Open();
    WriteProbe(w);
    EXPECT_EQ(Common::kLogRotateBytes, TestEnv::FileSize(LogFile()));
    EXPECT_FALSE(TestEnv::FileExists(Backup(LogFile(), 1)));
}

TEST_F(LogRotation, OneByteOverThresholdIsRotated)
{
    const LONGLONG line = ProbeLineBytes(LogFile());
    ASSERT_GT(line, 0);
    PreSize(LogFile(), static_cast<size_t>(Common::kLogRotateBytes + 1 - line));
    CLogWriter w;
    w.Open();
    WriteProbe(w);
    EXPECT_EQ(Common::kLogRotateBytes + 1, TestEnv::FileSize(Backup(LogFile(), 1)));
    // A fresh, empty log file, open and written by the next line.
    EXPECT_EQ(0, TestEnv::FileSize(LogFile()));
    EXPECT_TRUE(w.IsOpen());
    WriteProbe(w, L"after rotation");
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"after rotation", l.message);
    EXPECT_FALSE(TestEnv::FileExists(Backup(LogFile(), 2)));
}

TEST_F(LogRotation, AllFiveBackupsShuffled)
{
    const std::wstring log = LogFile();
    for (int n = 1; n <= 5; ++n)
        WriteText(Backup(log, n), L"backup " + std::to_wstring(n));
    PreSize(log, static_cast<size_t>(Common::kLogRotateBytes));
    CLogWriter w;
    w.Open();
    WriteProbe(w);
    // _5 (oldest) is gone; every other one moved up by one.
    for (int n = 2; n <= 5; ++n)
        EXPECT_EQ(L"backup " + std::to_wstring(n - 1), TestEnv::ReadUtf16File(Backup(log, n)))
            << "_" << n;
    EXPECT_GT(TestEnv::FileSize(Backup(log, 1)), Common::kLogRotateBytes);
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 6)));
    EXPECT_EQ(0, TestEnv::FileSize(log));
}

TEST_F(LogRotation, OnlySecondBackupMovesToThird)
{
    const std::wstring log = LogFile();
    WriteText(Backup(log, 2), L"the second");
    PreSize(log, static_cast<size_t>(Common::kLogRotateBytes));
    CLogWriter w;
    w.Open();
    WriteProbe(w);
    EXPECT_EQ(L"the second", TestEnv::ReadUtf16File(Backup(log, 3)));
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 2)));
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 4)));
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 5)));
    EXPECT_GT(TestEnv::FileSize(Backup(log, 1)), Common::kLogRotateBytes);
    EXPECT_EQ(0, TestEnv::FileSize(log));
}

TEST_F(LogRotation, WriteToFileRotatesWithoutReopening)
{
    const std::wstring file = m_install.LogsDir() + L"\\Debug_3.log";
    WriteText(Backup(file, 1), L"older");
    PreSize(file, static_cast<size_t>(Common::kLogRotateBytes));
    CLogWriter w;
    w.WriteToFile(L"Debug_3.log", Common::LOG_DEBUG, L"x.cpp", 1, L"over");
    EXPECT_GT(TestEnv::FileSize(Backup(file, 1)), Common::kLogRotateBytes);
    EXPECT_EQ(L"older", TestEnv::ReadUtf16File(Backup(file, 2)));
    EXPECT_FALSE(TestEnv::FileExists(file));  // not reopened
    w.WriteToFile(L"Debug_3.log", Common::LOG_DEBUG, L"x.cpp", 1, L"next");
    EXPECT_EQ(L"next", OnlyLine(file).message);
}

TEST_F(LogRotation, RenameBlockedByOtherModuleKeepsAppending)
{
    // A second module holds the same file open (not shared for deletion):
    // the rename fails, the writer reopens and goes on in the same file.
    const std::wstring log = LogFile();
    PreSize(log, static_cast<size_t>(Common::kLogRotateBytes));
    CLogWriter first;
    CLogWriter second;
    first.Open();
    second.Open();
    WriteProbe(first, L"first 1");
    EXPECT_TRUE(first.IsOpen());
    WriteProbe(first, L"first 2");
    WriteProbe(second, L"second 1");
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 1)));
    std::vector<std::wstring> messages;
    // The pre-sized bytes carry no line end: they join the first line.
    for (const std::wstring& line : SplitLines(TestEnv::ReadUtf16File(log)))
    {
        CLine l;
        if (ParseLine(line, l) && l.label == L"INFO")
            messages.push_back(l.message);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"first 1", L"first 2", L"second 1"}), messages);
}

// ===========================================================================
// Where the log goes

using LogFileLocation = LogFixture;

TEST(LogFileName, SpacesDroppedFilePartKept)
{
    EXPECT_EQ(L"MyHost.exe.log", Common::MakeLogFileName(L"C:\\Program Files\\My App\\My Host.exe"));
    EXPECT_EQ(L"plain.exe.log", Common::MakeLogFileName(L"C:\\x\\plain.exe"));
    EXPECT_EQ(L"nameonly.exe.log", Common::MakeLogFileName(L"name only.exe"));
    EXPECT_EQ(L"Svc.exe.log", Common::MakeLogFileName(L"Z:/tmp/my dir/Svc.exe"));
}

TEST_F(LogFileLocation, PathIsInstallLogsExeName)
{
    CLogWriter w;
    EXPECT_TRUE(w.LogPath().empty());
    w.Open();
    EXPECT_EQ(LogFile(), w.LogPath());
    EXPECT_TRUE(w.IsOpen());
}

TEST_F(LogFileLocation, InstallPathWithTrailingBackslash)
{
    TestEnv::RegWriteString(TestEnv::kRootKey, L"InstallPath", m_install.InstallPath() + L"\\");
    CLogWriter w;
    w.Open();
    EXPECT_EQ(LogFile(), w.LogPath());
}

TEST_F(LogFileLocation, NoLogsFolderNothingWrittenThenRetried)
{
    ASSERT_TRUE(::RemoveDirectoryW(m_install.LogsDir().c_str()));
    CLogWriter w;
    w.Open();
    EXPECT_FALSE(w.IsOpen());
    w.Write(Common::LOG_ERROR, L"x.cpp", 1, L"dropped");
    EXPECT_FALSE(TestEnv::FileExists(m_install.LogsDir()));  // not created by the writer

    ASSERT_TRUE(::CreateDirectoryW(m_install.LogsDir().c_str(), nullptr));
    w.Write(Common::LOG_ERROR, L"x.cpp", 1, L"still dropped");  // no open step yet
    EXPECT_FALSE(TestEnv::FileExists(LogFile()));
    w.Open();
    EXPECT_TRUE(w.IsOpen());
    w.Write(Common::LOG_ERROR, L"x.cpp", 2, L"kept");
    EXPECT_EQ(L"kept", OnlyLine(LogFile()).message);
}

TEST_F(LogFileLocation, MissingInstallPathLooksUpAgain)
{
    {
        Common::CRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestEnv::kRootKey, 0,
                                                 KEY_SET_VALUE | KEY_WOW64_32KEY, key.Put()));
        ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteValueW(key.Get(), L"InstallPath"));
    }
    CLogWriter w;
    w.Open();
    EXPECT_TRUE(w.LogPath().empty());
    EXPECT_FALSE(w.IsOpen());
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"dropped");

    TestEnv::RegWriteString(TestEnv::kRootKey, L"InstallPath", m_install.InstallPath());
    w.Open();
    EXPECT_EQ(LogFile(), w.LogPath());
    w.Write(Common::LOG_INFO, L"x.cpp", 1, L"kept");
    EXPECT_EQ(L"kept", OnlyLine(LogFile()).message);
}

namespace
{
void SetRawInstallPath(const void* data, DWORD bytes, DWORD type = REG_SZ)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, TestEnv::kRootKey, 0,
                                             KEY_SET_VALUE | KEY_WOW64_32KEY, key.Put()));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), L"InstallPath", 0, type,
                                              static_cast<const BYTE*>(data), bytes));
}
} // namespace

TEST_F(LogFileLocation, InstallPathWithoutTerminatorIsBounded)
{
    // The scratch path without its NUL: read within the stored length.
    const std::wstring dir = m_install.InstallPath();
    SetRawInstallPath(dir.data(), static_cast<DWORD>(dir.size() * sizeof(wchar_t)));
    {
        CLogWriter w;
        w.Open();
        EXPECT_EQ(LogFile(), w.LogPath());
    }
    // An odd byte after it is no character of the path.
    const std::wstring odd = dir + L"Q";
    SetRawInstallPath(odd.data(), static_cast<DWORD>(dir.size() * sizeof(wchar_t) + 1));
    CLogWriter w;
    w.Open();
    EXPECT_EQ(LogFile(), w.LogPath());
}

TEST_F(LogFileLocation, InstallPathFillingOrOverflowingBufferIsRejected)
{
    // 260 characters without a terminator fill all 520 bytes; 300 do not fit.
    const std::wstring full(260, L'A');
    SetRawInstallPath(full.data(), static_cast<DWORD>(full.size() * sizeof(wchar_t)));
    {
        CLogWriter w;
        w.Open();
        EXPECT_TRUE(w.LogPath().empty());
        EXPECT_FALSE(w.IsOpen());
    }
    const std::wstring longer(300, L'B');
    SetRawInstallPath(longer.c_str(), static_cast<DWORD>((longer.size() + 1) * sizeof(wchar_t)));
    {
        CLogWriter w;
        w.Open();
        EXPECT_TRUE(w.LogPath().empty());
    }
    const DWORD number = 7;
    SetRawInstallPath(&number, sizeof(number), REG_DWORD);
    {
        CLogWriter w;
        w.Open();
        EXPECT_TRUE(w.LogPath().empty());
    }
    // Empty: "\Logs" would name the drive root's folder.
    SetRawInstallPath(L"", sizeof(wchar_t));
    {
        CLogWriter w;
        w.Open();
        EXPECT_TRUE(w.LogPath().empty());
    }
}

TEST_F(LogFileLocation, OpenClearsAlreadyExistsAndSharesReadWrite)
{
    WriteText(LogFile(), L"x\r\n");
    CLogWriter w;
    ::SetLastError(77);
    w.Open();
    ASSERT_TRUE(w.IsOpen());
    EXPECT_EQ(0u, ::GetLastError());
    // Another module or process can open it for reading and writing.
    Common::CHandle other(::CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(other.IsValid());
}

TEST_F(LogFileLocation, ResetForgetsPathAndHandle)
{
    CLogWriter w;
    w.Open();
    ASSERT_TRUE(w.IsOpen());
    w.Reset();
    EXPECT_FALSE(w.IsOpen());
    EXPECT_TRUE(w.LogPath().empty());
    EXPECT_TRUE(::DeleteFileW(LogFile().c_str()));  // handle closed
}

// ===========================================================================
// Several threads, modules and processes

using LogConcurrency = LogFixture;

namespace
{
const std::wstring kPad(120, L'=');

std::wstring ConcurrencyMessage(int writer, int thread, int n)
{
    wchar_t buf[200];
    swprintf(buf, 200, L"w%d t%d n%05d ", writer, thread, n);
    return buf + kPad;
}

// Checks that the files hold exactly the expected messages, each line whole.
void ExpectAllLinesWhole(const std::vector<std::wstring>& files,
                         std::vector<std::wstring> expected, size_t ignoredLines = 0)
{
    std::vector<std::wstring> got;
    size_t bad = 0;
    for (const std::wstring& path : files)
    {
        if (!TestEnv::FileExists(path))
            continue;
        std::wstring tail;
        for (const std::wstring& line : SplitLines(TestEnv::ReadUtf16File(path), &tail))
        {
            CLine l;
            if (line.compare(0, 3, L"PPP") == 0 && ignoredLines > 0)
            {
                --ignoredLines;
                continue;
            }
            if (!ParseLine(line, l) || !WellFormedDateTime(l) || l.label != L"INFO" ||
                !l.location.empty())
            {
                if (++bad <= 5)
                    ADD_FAILURE() << "broken line: " << Narrow(line.substr(0, 200));
                continue;
            }
            got.push_back(l.message);
        }
        EXPECT_TRUE(tail.empty()) << "torn end of " << Narrow(path);
    }
    EXPECT_EQ(0u, bad);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected.size(), got.size());
    EXPECT_TRUE(expected == got) << "lines lost, duplicated or altered";
}

const wchar_t* const kChildFlag = L"--kaleo-log-child=";
constexpr int kChildLines = 400;
} // namespace

TEST_F(LogConcurrency, TwoModulesManyThreadsEveryLineWhole)
{
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    CLogWriter modules[2];
    std::vector<std::wstring> expected;
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int m = 0; m < 2; ++m)
        for (int t = 0; t < kThreads; ++t)
        {
            for (int n = 0; n < kLines; ++n)
                expected.push_back(ConcurrencyMessage(m, t, n));
            threads.emplace_back([&, m, t] {
                while (!go)
                    std::this_thread::yield();
                for (int n = 0; n < kLines; ++n)
                {
                    modules[m].Open();  // as GetInstance does before every line
                    modules[m].Write(Common::LOG_INFO, L"x.cpp", 1, L"%s",
                                     ConcurrencyMessage(m, t, n).c_str());
                }
            });
        }
    go = true;
    for (std::thread& t : threads)
        t.join();
    ExpectAllLinesWhole({LogFile()}, expected);
}

// The child processes started below are this executable with kChildFlag:
// they write their lines before any test runs, then exit (0: all written,
// 2: the log could not be opened).
namespace
{
struct CLogChildEntry
{
    CLogChildEntry()
    {
        const wchar_t* flag = std::wcsstr(::GetCommandLineW(), kChildFlag);
        if (flag == nullptr)
            return;
        const int id = _wtoi(flag + std::wcslen(kChildFlag));
        CLogWriter w;
        w.Open();
        if (!w.IsOpen())
            ::ExitProcess(2);
        for (int n = 0; n < kChildLines; ++n)
            w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", ConcurrencyMessage(id, 0, n).c_str());
        ::ExitProcess(0);
    }
} g_logChildEntry;
} // namespace

// A peer that holds the append lock (stuck, or hostile) neither stalls this
// writer's lines for long nor loses them: they go out without the lock.
TEST_F(LogConcurrency, PeerHoldingTheAppendLockNeitherStallsNorLosesLines)
{
    CLogWriter w;
    w.Open();
    ASSERT_TRUE(w.IsOpen());
    Common::CHandle peer(::CreateFileW(LogFile().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                       FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(peer.IsValid());
    OVERLAPPED ov = {};
    ov.Offset = 0xFFFFFFF0u;
    ov.OffsetHigh = 0x7FFFFFFFu;
    ASSERT_TRUE(::LockFileEx(peer.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov));

    constexpr int kLines = 20;
    std::vector<std::wstring> expected;
    const ULONGLONG start = ::GetTickCount64();
    for (int n = 0; n < kLines; ++n)
    {
        expected.push_back(ConcurrencyMessage(3, 0, n));
        w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", expected.back().c_str());
    }
    const ULONGLONG elapsed = ::GetTickCount64() - start;
    ::UnlockFileEx(peer.Get(), 0, 1, 0, &ov);
    // Waiting 2 s per line would take 40 s.
    EXPECT_LT(elapsed, 5000u) << "each line waited for the stuck peer";
    ExpectAllLinesWhole({LogFile()}, expected);
}

TEST_F(LogConcurrency, ProcessesAppendingOneFileEveryLineWhole)
{
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::vector<std::wstring> expected;
    TestEnv::CChildProcess children[2];
    for (int c = 0; c < 2; ++c)
    {
        const int id = 10 + c;
        ASSERT_TRUE(children[c].Start(exe, std::wstring(kChildFlag) + std::to_wstring(id)));
        for (int n = 0; n < kChildLines; ++n)
            expected.push_back(ConcurrencyMessage(id, 0, n));
    }
    CLogWriter w;
    w.Open();
    for (int n = 0; n < 2000; ++n)
    {
        expected.push_back(ConcurrencyMessage(1, 0, n));
        w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", ConcurrencyMessage(1, 0, n).c_str());
    }
    for (TestEnv::CChildProcess& child : children)
        EXPECT_EQ(0u, child.Wait(120000));
    ExpectAllLinesWhole({LogFile()}, expected);
}

TEST_F(LogConcurrency, RotationDoesNotRaceOtherThreadsWrites)
{
    // The file is just under the threshold, so a rotation falls in the middle
    // of four threads' writes; every line lands whole in the log or _1.bak.
    const std::wstring log = LogFile();
    std::wstring pad(static_cast<size_t>(Common::kLogRotateBytes / 2 - 2 - 500), L'P');
    pad += L"\r\n";
    WriteText(log, pad);
    CLogWriter w;
    w.Open();
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    std::vector<std::wstring> expected;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        for (int n = 0; n < kLines; ++n)
            expected.push_back(ConcurrencyMessage(0, t, n));
        threads.emplace_back([&, t] {
            for (int n = 0; n < kLines; ++n)
            {
                w.Open();
                w.Write(Common::LOG_INFO, L"x.cpp", 1, L"%s", ConcurrencyMessage(0, t, n).c_str());
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_TRUE(TestEnv::FileExists(Backup(log, 1)));
    EXPECT_FALSE(TestEnv::FileExists(Backup(log, 2)));
    ExpectAllLinesWhole({Backup(log, 1), log}, expected, 1);
}

TEST_F(LogConcurrency, GetInstanceFromManyThreadsIsOneOpenWriter)
{
    CLogWriter::GetInstance()->Reset();  // the singleton may hold another test's path
    constexpr int kThreads = 8;
    constexpr int kLines = 100;
    std::vector<CLogWriter*> seen(kThreads, nullptr);
    std::vector<std::wstring> expected;
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < kThreads; ++t)
    {
        for (int n = 0; n < kLines; ++n)
            expected.push_back(ConcurrencyMessage(5, t, n));
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            seen[t] = CLogWriter::GetInstance();
            for (int n = 0; n < kLines; ++n)
                KLOG(Common::LOG_INFO, L"%s", ConcurrencyMessage(5, t, n).c_str());
        });
    }
    go = true;
    for (std::thread& t : threads)
        t.join();
    for (CLogWriter* p : seen)
        EXPECT_EQ(CLogWriter::GetInstance(), p);
    EXPECT_EQ(LogFile(), CLogWriter::GetInstance()->LogPath());
    CLogWriter::GetInstance()->Reset();  // let the fixture remove its folder
    ExpectAllLinesWhole({LogFile()}, expected);
}

// Callers write KLOG(..., GetLastError()): the writer's open step runs
// before the arguments are evaluated and must not change the error.
TEST_F(LogConcurrency, GetInstanceKeepsTheLastErrorForTheArguments)
{
    CLogWriter::GetInstance()->Reset();
    ::SetLastError(1234);
    KLOG(Common::LOG_ERROR, L"[Test] error (%d)", ::GetLastError());
    CLogWriter::GetInstance()->Reset();
    const std::vector<std::wstring> lines = ReadLines(LogFile());
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L"[Test] error (1234)")) << Narrow(lines[0]);
}

// ===========================================================================
// System error texts

using LogErrorText = LogFixture;

namespace
{
std::wstring EnglishText(DWORD code)
{
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, 1033, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s = n ? std::wstring(text, n) : std::wstring();
    ::LocalFree(text);
    return s;
}
} // namespace

TEST_F(LogErrorText, LogErrorCodeReturnsCodeAndWritesTextWithoutBreak)
{
    std::wstring text = EnglishText(ERROR_ACCESS_DENIED);
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(L"\r\n", text.substr(text.size() - 2));
    text.resize(text.size() - 2);

    CLogWriter w;
    w.Open();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), w.LogErrorCode(ERROR_ACCESS_DENIED, 77));
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"ERROR", l.label);
    EXPECT_EQ(L"AppManager.cpp (77)", l.location);
    EXPECT_EQ(L"(77) 0x00000005: " + text, l.message);
}

TEST_F(LogErrorText, LogWin32ErrorWritesCodeAndText)
{
    std::wstring text = EnglishText(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(text.size(), 2u);
    text.resize(text.size() - 2);

    CLogWriter w;
    w.Open();
    w.LogWin32Error(ERROR_FILE_NOT_FOUND, 310);
    const CLine l = OnlyLine(LogFile());
    EXPECT_EQ(L"ERROR", l.label);
    EXPECT_EQ(L"AppManager.cpp (310)", l.location);
    EXPECT_EQ(L"Error (2): " + text, l.message);
}

TEST_F(LogErrorText, UnknownCodeGivesEmptyText)
{
    CLogWriter w;
    w.Open();
    EXPECT_EQ(0x2ABCDEF1u, w.LogErrorCode(0x2ABCDEF1u, 5));
    EXPECT_EQ(L"(5) 0x2ABCDEF1: ", OnlyLine(LogFile()).message);
}
