// The control pipe from both ends: the host survives garbage and stalled
// clients, and the client survives hosts that answer garbage or not at all.
#include "HostTestFixture.h"

#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "Handles.h"
#include "PipeIo.h"
#include "TaskRuntime.h"

namespace
{

using HostTest::Contains;
using HostTest::Quote;

constexpr DWORD kCommandTimeoutMs = 10000;
constexpr DWORD kIoTimeoutMs = 5000;

// A client end of a host's pipe, opened but driven by the test.
Common::CHandle OpenRawClient(const std::wstring& name)
{
    const std::wstring pipe = Host::HostPipeName(name);
    Common::CHandle h;
    for (int attempt = 0; attempt < 100 && !h; ++attempt)
    {
        h.Reset(::CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr));
        if (!h)
            ::WaitNamedPipeW(pipe.c_str(), kIoTimeoutMs);
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (h)
        ::SetNamedPipeHandleState(h.Get(), &mode, nullptr, nullptr);
    return h;
}

// Sends one raw message; returns the reply's status, or ~0u without a reply.
DWORD SendRaw(const std::wstring& name, const std::vector<BYTE>& message)
{
    Common::CHandle pipe = OpenRawClient(name);
    if (!pipe)
        return ~0u;
    Common::WritePipeMessage(pipe.Get(), message.data(), static_cast<DWORD>(message.size()),
                           kIoTimeoutMs, nullptr);
    auto reply = std::make_unique<Host::_HOSTREPLY>();
    DWORD bytes = 0;
    if (Common::ReadPipeMessage(pipe.Get(), reply.get(), sizeof(*reply), bytes, kIoTimeoutMs,
                              nullptr) != ERROR_SUCCESS ||
        bytes != sizeof(*reply) || reply->magic != Host::kHostProtocolMagic)
        return ~0u;
    return reply->status;
}

std::vector<BYTE> Bytes(const void* data, size_t size)
{
    const BYTE* p = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(p, p + size);
}

std::vector<BYTE> RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<BYTE> bytes(size);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(random());
    return bytes;
}

Host::_HOSTREQUEST Request(DWORD command, DWORD argument = 0)
{
    return Host::_HOSTREQUEST{Host::kHostProtocolMagic, Host::kHostProtocolVersion, command, argument};
}

} // namespace

using HostControl = HostTest::CHostFixture;

TEST_F(HostControl, MalformedRequestsGetAnErrorReply)
{
    ASSERT_TRUE(StartHost(Quote(m_moduleA)));
    Host::_HOSTREQUEST wrongMagic = Request(Host::HOST_CMD_STOP);
    wrongMagic.magic ^= 1;
    Host::_HOSTREQUEST wrongVersion = Request(Host::HOST_CMD_STOP);
    wrongVersion.version = 2;
    const Host::_HOSTREQUEST valid = Request(Host::HOST_CMD_STOP);
    std::vector<BYTE> longer = Bytes(&valid, sizeof(valid));
    longer.push_back(0);
    const std::vector<BYTE> shorter = Bytes(&valid, sizeof(valid) - 1);

    const std::vector<BYTE> garbage[] = {
        std::vector<BYTE>(),  // empty message
        RandomBytes(1, 1),
        RandomBytes(sizeof(Host::_HOSTREQUEST), 2),
        shorter,
        longer,
        RandomBytes(10000, 3),
        Bytes(&wrongMagic, sizeof(wrongMagic)),
        Bytes(&wrongVersion, sizeof(wrongVersion)),
    };
    for (size_t i = 0; i < sizeof(garbage) / sizeof(garbage[0]); ++i)
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), SendRaw(m_name, garbage[i])) << "case " << i;
    const Host::_HOSTREQUEST unknown = Request(99, 7);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SendRaw(m_name, Bytes(&unknown, sizeof(unknown))));
    // Far beyond what the host reads of one message: it may give up on the
    // reply, but must go on serving.
    SendRaw(m_name, RandomBytes(200000, 4));

    // None of it reached a module or stopped the host; it still serves.
    std::wstring text;
    EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"status", text, kCommandTimeoutMs));
    EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"event 3", text, kCommandTimeoutMs));
    EXPECT_TRUE(Contains(text, L"TestModuleA.dll=301")) << TestEnv::Narrow(text);
    const std::vector<HostTest::CCall> calls = Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("event", calls[1].call);
    EXPECT_EQ(STILL_ACTIVE, m_host.Wait(0));
}

TEST_F(HostControl, StalledClientsDelayOthersOnlyBriefly)
{
    ASSERT_TRUE(StartHost(Quote(m_moduleA)));
    std::wstring text;
    {
        // Connected, never writes.
        Common::CHandle silent = OpenRawClient(m_name);
        ASSERT_TRUE(silent.IsValid());
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"status", text, 15000));
        EXPECT_LT(::GetTickCount64() - start, 8000u);
    }
    {
        // Sends a request, never reads the reply, never closes.
        Common::CHandle deaf = OpenRawClient(m_name);
        ASSERT_TRUE(deaf.IsValid());
        const Host::_HOSTREQUEST status = Request(Host::HOST_CMD_STATUS);
        ASSERT_EQ(ERROR_SUCCESS, Common::WritePipeMessage(deaf.Get(), &status, sizeof(status), kIoTimeoutMs, nullptr));
        const ULONGLONG start = ::GetTickCount64();
        EXPECT_EQ(ERROR_SUCCESS, Host::HostSendCommand(m_name, L"status", text, 15000));
        EXPECT_LT(::GetTickCount64() - start, 8000u);
    }
    EXPECT_EQ(STILL_ACTIVE, m_host.Wait(0));
}

TEST(HostClient, CommandTextsAreCheckedBeforeSending)
{
    Host::_HOSTREQUEST request{};
    ASSERT_EQ(ERROR_SUCCESS, Host::ParseHostCommand(L"  STOP ", request));
    EXPECT_EQ(static_cast<DWORD>(Host::HOST_CMD_STOP), request.command);
    EXPECT_EQ(Host::kHostProtocolMagic, request.magic);
    ASSERT_EQ(ERROR_SUCCESS, Host::ParseHostCommand(L"event 0x1F", request));
    EXPECT_EQ(static_cast<DWORD>(Host::HOST_CMD_EVENT), request.command);
    EXPECT_EQ(31u, request.argument);
    ASSERT_EQ(ERROR_SUCCESS, Host::ParseHostCommand(L"event 4294967295", request));
    EXPECT_EQ(0xFFFFFFFFu, request.argument);
    const wchar_t* bad[] = {L"", L"event", L"event -1", L"event 4294967296", L"event 7 8", L"event 7x",
                            L"event 0x", L"event 0x100000000", L"statusx", L"stop now"};
    for (const wchar_t* text : bad)
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), Host::ParseHostCommand(text, request))
            << TestEnv::Narrow(text);

    EXPECT_EQ(L"\\\\.\\pipe\\VxSvcHost.VxSvcHost", Host::HostPipeName(L""));
    std::wstring reply;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), Host::HostSendCommand(L"a\\b", L"status", reply, 1000));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME),
              Host::HostSendCommand(std::wstring(65, L'n'), L"status", reply, 1000));

    // Nobody listens: a prompt answer, not a wait for the time-out.
    const std::wstring absent = L"KaleoNoSuchHost-" + std::to_wstring(::GetCurrentProcessId());
    ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Host::HostSendCommand(absent, L"status", reply, 20000));
    EXPECT_LT(::GetTickCount64() - start, 5000u);
    start = ::GetTickCount64();
    EXPECT_FALSE(Host::WaitForHost(absent, 300));
    EXPECT_LT(::GetTickCount64() - start, 5000u);
}

namespace
{
// Serves one connection of a fake host: reads the request, then answers with
// what the test gives (nothing at all when reply is empty).
void ServeFakeHost(HANDLE pipe, const std::vector<BYTE>& reply)
{
    if (Common::ConnectPipeClient(pipe, nullptr) != ERROR_SUCCESS)
        return;
    Host::_HOSTREQUEST request{};
    DWORD bytes = 0;
    Common::ReadPipeMessage(pipe, &request, sizeof(request), bytes, kIoTimeoutMs, nullptr);
    if (!reply.empty())
        Common::WritePipeMessage(pipe, reply.data(), static_cast<DWORD>(reply.size()), kIoTimeoutMs, nullptr);
    Common::WaitForClientClose(pipe, kIoTimeoutMs, nullptr);
    ::DisconnectNamedPipe(pipe);
}
} // namespace

TEST(HostClient, RepliesOfAFakeHostAreChecked)
{
    const std::wstring name = L"KaleoFakeHost-" + std::to_wstring(::GetCurrentProcessId());
    Common::CHandle pipe(::CreateNamedPipeW(Host::HostPipeName(name).c_str(),
                                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                            65536, 65536, 0, nullptr));
    ASSERT_TRUE(pipe.IsValid());

    auto good = std::make_unique<Host::_HOSTREPLY>();
    std::memset(good.get(), 0, sizeof(*good));
    good->magic = Host::kHostProtocolMagic;
    good->version = Host::kHostProtocolVersion;
    good->command = Host::HOST_CMD_STATUS;
    const std::vector<BYTE> goodBytes = Bytes(good.get(), sizeof(*good));

    auto exchange = [&](const std::vector<BYTE>& answer, DWORD timeoutMs, Host::_HOSTREPLY& reply) {
        DWORD status = 0;
        std::thread host([&]() { ServeFakeHost(pipe.Get(), answer); });
        status = Host::HostTransact(name, Request(Host::HOST_CMD_STATUS), reply, timeoutMs);
        host.join();
        return status;
    };
    auto reply = std::make_unique<Host::_HOSTREPLY>();
    EXPECT_EQ(ERROR_SUCCESS, exchange(goodBytes, kIoTimeoutMs, *reply));

    std::vector<BYTE> shortReply(goodBytes.begin(), goodBytes.end() - 1);
    std::vector<BYTE> longReply = goodBytes;
    longReply.push_back(0);
    std::vector<BYTE> badMagic = goodBytes;
    badMagic[0] ^= 1;
    auto manyModules = std::make_unique<Host::_HOSTREPLY>(*good);
    manyModules->moduleCount = Host::kMaxHostModules + 1;
    const std::vector<BYTE> cases[] = {shortReply, longReply, badMagic,
                                       Bytes(manyModules.get(), sizeof(*manyModules))};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), exchange(cases[i], kIoTimeoutMs, *reply)) << "case " << i;

    // A text without terminator comes out terminated.
    auto unterminated = std::make_unique<Host::_HOSTREPLY>(*good);
    for (WCHAR& c : unterminated->text)
        c = L'x';
    ASSERT_EQ(ERROR_SUCCESS, exchange(Bytes(unterminated.get(), sizeof(*unterminated)), kIoTimeoutMs, *reply));
    EXPECT_EQ(Host::kHostReplyTextChars - 1, std::wcslen(reply->text));

    // A host that never answers: the client gives up in time.
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), exchange(std::vector<BYTE>(), 500, *reply));
    EXPECT_LT(::GetTickCount64() - start, 8000u);
}
