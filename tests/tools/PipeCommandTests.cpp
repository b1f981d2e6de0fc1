// "kaleoctl pipe", the stand-in for the device-side writers of a device's
// data pipe, against a reader in this process that serves the pipe as the
// proxy does: each message arrives whole and as written, the special
// messages are what they claim, a device handle leads to the pipe the proxy
// derives, connecting waits as long as it is told and no longer, a flood
// keeps its rate and its ids, and a reader that goes away stops the writer.
#include <gtest/gtest.h>
#include <windows.h>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "PipeIo.h"
#include "TestEnv.h"

using namespace TestEnv;
using Common::CHandle;

namespace
{
const std::wstring kPipe = L"\\\\.\\pipe\\kaleoctl-test-pipe";

DWORD Pipe(const std::wstring& args, std::string* output = nullptr)
{
    return RunProcess(BinDir() + L"\\kaleoctl.exe", L"pipe " + args, 60000, output);
}

LONGLONG Qpc()
{
    LARGE_INTEGER counter;
    ::QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

struct CMessage
{
    unsigned connection = 0; // 1 for the first client
    std::string bytes;
    LONGLONG receivedAt = 0;
};

struct CReaderOptions
{
    DWORD firstInstanceMs = 0; // until the first instance exists
    // Between creating an instance and accepting on it, as a reader that
    // records the instance first does. A client that has written and left
    // in this gap makes the accept fail, which ends the reader.
    DWORD acceptDelayMs = 0;
    size_t dropAfter = 0; // disconnects a client after that many messages
};

// A reader like the proxy's: message mode, 8192-byte buffers, one instance
// at a time and a new one after each client. A longer message is read in
// pieces and recorded whole.
class CTestReader
{
public:
    explicit CTestReader(std::wstring name, CReaderOptions options = {})
        : m_name(std::move(name)), m_options(options), m_stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_thread([this] { Serve(); })
    {
    }
    ~CTestReader()
    {
        ::SetEvent(m_stop.Get());
        m_thread.join();
    }

    std::vector<CMessage> Messages()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages;
    }
    unsigned Connections()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_connections;
    }

private:
    void Serve()
    {
        if (::WaitForSingleObject(m_stop.Get(), m_options.firstInstanceMs) != WAIT_TIMEOUT)
            return;
        for (;;)
        {
            CHandle pipe(::CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                            PIPE_UNLIMITED_INSTANCES, 8192, 8192, 0, nullptr));
            if (!pipe || ::WaitForSingleObject(m_stop.Get(), m_options.acceptDelayMs) != WAIT_TIMEOUT ||
                Common::ConnectPipeClient(pipe.Get(), m_stop.Get()) != ERROR_SUCCESS)
                return;
            unsigned connection = 0;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                connection = ++m_connections;
            }
            ReadClient(pipe.Get(), connection);
            ::DisconnectNamedPipe(pipe.Get());
        }
    }

    void ReadClient(HANDLE pipe, unsigned connection)
    {
        size_t taken = 0;
        std::string message;
        while (m_options.dropAfter == 0 || taken < m_options.dropAfter)
        {
            char buffer[8192];
            DWORD bytes = 0;
            const DWORD status = Common::ReadPipeMessage(pipe, buffer, sizeof(buffer), bytes, INFINITE, m_stop.Get());
            message.append(buffer, bytes);
            if (status == ERROR_MORE_DATA)
                continue;
            if (status != ERROR_SUCCESS)
                return;
            std::lock_guard<std::mutex> lock(m_lock);
            m_messages.push_back({connection, message, Qpc()});
            message.clear();
            ++taken;
        }
    }

    std::wstring m_name;
    CReaderOptions m_options;
    CHandle m_stop;
    std::mutex m_lock;
    std::vector<CMessage> m_messages;
    unsigned m_connections = 0;
    std::thread m_thread; // last: starts once the members above exist
};

// What one received message must be.
enum class EKind
{
    Exact,        // the bytes given
    Event,        // a JSON object with "eventId" 2
    NoEventId,    // a JSON object without "eventId"
    NotJson,
};

struct CExpected
{
    EKind kind;
    std::string exact; // EKind::Exact
    size_t size;       // 0: not checked
};

void ExpectMessage(const CExpected& expected, const CMessage& message)
{
    if (expected.size != 0)
    {
        EXPECT_EQ(expected.size, message.bytes.size());
    }
    const nlohmann::json json = nlohmann::json::parse(message.bytes, nullptr, false);
    switch (expected.kind)
    {
    case EKind::Exact:
        EXPECT_EQ(expected.exact, message.bytes);
        break;
    case EKind::Event:
        ASSERT_TRUE(json.is_object()) << message.bytes.substr(0, 80);
        EXPECT_EQ(2, json.value("eventId", 0));
        break;
    case EKind::NoEventId:
        ASSERT_TRUE(json.is_object()) << message.bytes;
        EXPECT_FALSE(json.contains("eventId"));
        break;
    case EKind::NotJson:
        EXPECT_TRUE(json.is_discarded()) << message.bytes;
        EXPECT_FALSE(message.bytes.empty());
        break;
    }
}

TEST(PipeCommand, SendWritesEachMessageWholeAndAsGiven)
{
    CScratchDir dir;
    // A BOM, CRLF and LF lines, blank lines and a last line without an end.
    const std::string file = "\xEF\xBB\xBF{\"eventId\":2,\"linkDeviceSeqId\":1}\r\n\r\n\n"
                             "{\"eventId\":5,\"text\":\"a b\"}\nnot json\r\n  \nlast";
    WriteFileBytes(dir / L"messages.txt", file.data(), file.size());
    struct CCase
    {
        std::wstring args;
        std::vector<CExpected> messages; // on every connection
        unsigned connections;
    };
    const CCase cases[] = {
        {L"--message \"{\\\"eventId\\\":2,\\\"linkDeviceSeqId\\\":1,\\\"mine\\\":\\\"\u00e4\\\"}\"",
         {{EKind::Exact, "{\"eventId\":2,\"linkDeviceSeqId\":1,\"mine\":\"\xC3\xA4\"}", 0}},
         1},
        {L"--file \"" + dir / L"messages.txt" + L"\"",
         {{EKind::Exact, "{\"eventId\":2,\"linkDeviceSeqId\":1}", 0},
          {EKind::Exact, "{\"eventId\":5,\"text\":\"a b\"}", 0},
          {EKind::Exact, "not json", 0},
          {EKind::Exact, "  ", 0},
          {EKind::Exact, "last", 0}},
         1},
        {L"--oversized 8191", {{EKind::Event, "", 8191}}, 1},
        {L"--oversized 8192", {{EKind::Event, "", 8192}}, 1},
        {L"--oversized 10000", {{EKind::Event, "", 10000}}, 1},
        {L"--malformed", {{EKind::NotJson, "", 0}}, 1},
        {L"--no-event-id", {{EKind::NoEventId, "", 0}}, 1},
        // Each connection closed, and a new instance taken, before the next.
        {L"--no-event-id --connections 3", {{EKind::NoEventId, "", 0}}, 3},
        {L"--file \"" + dir / L"messages.txt" + L"\" --connections 2",
         {{EKind::Exact, "{\"eventId\":2,\"linkDeviceSeqId\":1}", 0},
          {EKind::Exact, "{\"eventId\":5,\"text\":\"a b\"}", 0},
          {EKind::Exact, "not json", 0},
          {EKind::Exact, "  ", 0},
          {EKind::Exact, "last", 0}},
         2},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(Narrow(c.args));
        CTestReader reader(kPipe, {0, 100, 0});
        std::string output;
        ASSERT_EQ(0u, Pipe(L"send --name " + kPipe + L" " + c.args, &output)) << output;
        // kaleoctl leaves once the reader has read everything, never before
        // the reader has accepted it.
        const std::vector<CMessage> received = reader.Messages();
        ASSERT_EQ(c.messages.size() * c.connections, received.size());
        EXPECT_EQ(c.connections, reader.Connections());
        for (size_t i = 0; i < received.size(); ++i)
        {
            SCOPED_TRACE(i);
            EXPECT_EQ(i / c.messages.size() + 1, received[i].connection);
            ExpectMessage(c.messages[i % c.messages.size()], received[i]);
        }
        EXPECT_NE(std::string::npos, output.find("sent " + std::to_string(received.size()) + " message")) << output;
    }
}

TEST(PipeCommand, ConnectingWaitsForTheReaderWithinTheBound)
{
    struct CCase
    {
        const char* what;
        bool reader;
        DWORD readerDelayMs; // until its first instance exists
        DWORD busyMs;        // another client holds the only instance this long
        DWORD waitMs;
        DWORD exitCode;
        ULONGLONG minMs, maxMs; // the run's length
    };
    const CCase cases[] = {
        {"no pipe", false, 0, 0, 1000, 1, 1000, 6000},
        {"no pipe, no waiting", false, 0, 0, 0, 1, 0, 5000},
        {"pipe appears within the wait", true, 1500, 0, 8000, 0, 1500, 8000},
        {"pipe appears after the wait", true, 6000, 0, 300, 1, 300, 5900},
        {"instance busy for a while", true, 0, 1500, 8000, 0, 1500, 8000},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        std::unique_ptr<CTestReader> reader;
        if (c.reader)
            reader.reset(new CTestReader(kPipe, {c.readerDelayMs, 0, 0}));
        CHandle other;
        if (c.busyMs != 0)
        {
            ASSERT_TRUE(WaitFor(
                [&] {
                    other.Reset(::CreateFileW(kPipe.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
                    return static_cast<bool>(other);
                },
                5000));
        }
        std::thread release([&] {
            ::Sleep(c.busyMs);
            other.Reset();
        });
        const ULONGLONG start = ::GetTickCount64();
        std::string output;
        const DWORD code =
            Pipe(L"send --name " + kPipe + L" --no-event-id --wait " + std::to_wstring(c.waitMs), &output);
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        release.join();
        EXPECT_EQ(c.exitCode, code) << output;
        EXPECT_GE(elapsed, c.minMs);
        EXPECT_LT(elapsed, c.maxMs);
        if (c.exitCode == 0)
        {
            EXPECT_EQ(1u, reader->Messages().size());
        }
        else
        {
            EXPECT_NE(std::string::npos, output.find("no pipe of that name")) << output;
        }
    }
}

TEST(PipeCommand, FloodKeepsItsRateIdsAndSize)
{
    struct CCase
    {
        unsigned long rate;
        unsigned ids;
        size_t size;
        size_t min, max; // messages in one second
    };
    const CCase cases[] = {
        {200, 4, 300, 150, 201},
        {0, 3, 0, 50, SIZE_MAX},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(c.rate);
        CTestReader reader(kPipe);
        std::string output;
        const LONGLONG before = Qpc();
        ASSERT_EQ(0u, Pipe(L"flood --name " + kPipe + L" --rate " + std::to_wstring(c.rate) + L" --ids " +
                               std::to_wstring(c.ids) + L" --seconds 1" +
                               (c.size ? L" --size " + std::to_wstring(c.size) : L""),
                           &output))
            << output;
        const std::vector<CMessage> received = reader.Messages();
        EXPECT_GE(received.size(), c.min);
        EXPECT_LE(received.size(), c.max);
        EXPECT_NE(std::string::npos, output.find("sent " + std::to_string(received.size()) + " messages")) << output;
        std::vector<bool> seen(c.ids, false);
        LONGLONG lastTs = before;
        for (size_t i = 0; i < received.size(); ++i)
        {
            SCOPED_TRACE(i);
            ExpectMessage({EKind::Event, "", c.size}, received[i]);
            const nlohmann::json json = nlohmann::json::parse(received[i].bytes, nullptr, false);
            ASSERT_TRUE(json.is_object());
            ASSERT_EQ(i, json.value("seq", SIZE_MAX));
            ASSERT_EQ(i % c.ids, json.value("linkDeviceSeqId", SIZE_MAX));
            // Stamped on this machine's counter before the write.
            const LONGLONG ts = json.value("ts", LONGLONG{0});
            ASSERT_GE(ts, lastTs);
            ASSERT_LE(ts, received[i].receivedAt);
            lastTs = ts;
            seen[i % c.ids] = true;
        }
        EXPECT_EQ(std::vector<bool>(c.ids, true), seen);
        // Spread over the second, not sent in a burst.
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        ASSERT_FALSE(received.empty());
        const LONGLONG firstTs = nlohmann::json::parse(received.front().bytes).value("ts", LONGLONG{0});
        EXPECT_GE(lastTs - firstTs, frequency.QuadPart * 8 / 10);
    }
}

TEST(PipeCommand, StopsWithAnErrorWhenTheReaderGoesAway)
{
    CTestReader reader(kPipe, {0, 0, 5});
    std::string output;
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(1u, Pipe(L"flood --name " + kPipe + L" --rate 0 --seconds 20", &output)) << output;
    EXPECT_LT(::GetTickCount64() - start, 15000u) << "stopped at the failed write, not at the end of the time";
    EXPECT_NE(std::string::npos, output.find("the reader closed the pipe")) << output;
    EXPECT_EQ(5u, reader.Messages().size());
}

TEST(PipeCommand, RefusesIncompleteOrJunkArgumentsWithoutConnecting)
{
    CTestReader reader(kPipe);
    const std::wstring name = L" --name " + kPipe;
    const std::wstring refused[] = {
        L"send --message x",
        L"send --name " + kPipe + L" --handle 3015 --message x",
        L"send --name \\\\localhost\\pipe\\kaleoctl-test-pipe --message x",
        L"send --name \\\\.\\pipe\\ --message x",
        L"send" + name,
        L"send" + name + L" --message x --malformed",
        L"send" + name + L" --message \"\"",
        L"send" + name + L" --oversized 41",
        L"send" + name + L" --oversized 1048577",
        L"send" + name + L" --no-event-id --connections 0",
        L"send" + name + L" --message x stray",
        L"send" + name + L" --message x --wait 5s",
        L"send --handle 12x --message x",
        L"flood" + name + L" --rate 12x",
        L"flood" + name + L" --ids 0",
        L"flood" + name + L" --seconds 0",
        L"wiggle" + name,
    };
    for (const std::wstring& args : refused)
    {
        std::string output;
        EXPECT_EQ(2u, Pipe(args, &output)) << Narrow(args) << "\n" << output;
    }
    EXPECT_EQ(0u, reader.Connections());
}

// Devices published as their publishers do, looked up by the handle the
// host sees for them.
class PipeCommandByHandle : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(L"Software\\Vexel Kaleo SDK\\Devices");
        RegDeleteTreeW32(L"Software\\Vexel\\KaleoBroadcast");
        std::string output;
        ASSERT_EQ(0u, Kaleoctl(L"install --path \"" + m_install.InstallPath() + L"\"", &output)) << output;
    }

    static DWORD Kaleoctl(const std::wstring& args, std::string* output = nullptr)
    {
        return RunProcess(BinDir() + L"\\kaleoctl.exe", args, 30000, output);
    }

    CInstallFixture m_install; // the SDK root, devices included, put back
    CRegistrySnapshot m_broadcast{L"Software\\Vexel"};
};

TEST_F(PipeCommandByHandle, WritesIntoThePipeTheProxyDerivesForTheDevice)
{
    const wchar_t* const publish[] = {
        L"devices publish hid --hardware VID_2F1A&PID_0084&MI_00 --instance 7&2A0F4C5&0&0000",
        // Two devices with one key: the proxy adds the first.
        L"devices publish usb --hardware VID_2F1A&PID_0090 --instance 5&1234ABCD&0&1",
        L"devices publish usb --hardware VID_2F1A&PID_0090 --instance 5&1234ABCD&0&2",
        L"devices hue --path bridge --bulbs 3,5",
        // Not added while no broadcast service runs; it may have been before.
        L"devices publish broadcast --name Connect --pid 1234 --index 2 --supported 0x20",
        L"devices publish iot --product PID_0401 --id 0123456789ABCDEF",
    };
    for (const wchar_t* args : publish)
    {
        std::string output;
        ASSERT_EQ(0u, Kaleoctl(args, &output)) << Narrow(args) << "\n" << output;
    }
    struct CCase
    {
        std::wstring handle;
        std::wstring pipe;
        const char* note; // on the output, or null
    };
    const CCase cases[] = {
        {L"44102853", L"\\\\.\\pipe\\HID#VID_2F1A&PID_0084&MI_00#7&2A0F4C5&0&0000#", nullptr},
        {L"0x1234ABCD", L"\\\\.\\pipe\\USB#VID_2F1A&PID_0090#5&1234ABCD&0&1#", nullptr},
        {L"3015", L"\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}5", nullptr},
        {L"3022", L"\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}2",
         "would not add device 3022: the broadcast service does not run"},
        {L"0x12345678", L"\\\\.\\pipe\\HID#VID_2F1A&PID_0401#0&12345678&9&ABCD#", nullptr},
    };
    for (const CCase& c : cases)
    {
        SCOPED_TRACE(Narrow(c.handle));
        CTestReader reader(c.pipe);
        std::string output;
        ASSERT_EQ(0u, Pipe(L"send --handle " + c.handle + L" --no-event-id --wait 2000", &output)) << output;
        EXPECT_EQ(1u, reader.Messages().size());
        EXPECT_NE(std::string::npos, output.find(Narrow(c.pipe))) << output;
        if (c.note)
        {
            EXPECT_NE(std::string::npos, output.find(c.note)) << output;
        }
    }
    std::string output;
    EXPECT_EQ(1u, Pipe(L"send --handle 3017 --no-event-id --wait 0", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("no published device has the key 3017")) << output;
}

} // namespace
