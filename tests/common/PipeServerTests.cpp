// A pipe server never shares a name another process holds: it waits for
// the name, says so once, takes it once it is free, and gives up on a stop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "Handles.h"
#include "PipeServer.h"

namespace
{

constexpr DWORD kRetryMs = 50;
const wchar_t kPipeName[] = L"\\\\.\\pipe\\KaleoPipeServerTest";

Common::CPipeShape TestShape()
{
    Common::CPipeShape shape;
    shape.openMode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED;
    shape.pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    shape.outBytes = 64;
    shape.inBytes = 64;
    shape.nameRetryMs = kRetryMs;
    return shape;
}

// Another server of the name, shaped as a foreign one would be: one
// instance, other access.
Common::CHandle Squat()
{
    return Common::CHandle(
        ::CreateNamedPipeW(kPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64, 64, 0, nullptr));
}

class CCountingReport final : public Common::CPipeNameReport
{
public:
    void NameHeld(DWORD error, DWORD retryMs) noexcept override
    {
        m_lastError = error;
        m_retryMs = retryMs;
        ++m_held;
    }
    void NameTaken() noexcept override { ++m_taken; }

    std::atomic<int> m_held{0};
    std::atomic<int> m_taken{0};
    std::atomic<DWORD> m_lastError{0};
    std::atomic<DWORD> m_retryMs{0};
};

TEST(PipeServer, WaitsForAHeldNameAndTakesItOnceFree)
{
    Common::CHandle held = Squat();
    ASSERT_TRUE(held);

    const Common::CPipeServer server(kPipeName, TestShape());
    Common::CHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CCountingReport report;
    Common::CHandle owned;
    std::atomic<DWORD> result{ERROR_IO_PENDING};
    std::thread owner([&]() { result = server.OwnName(stop.Get(), report, owned); });

    ::Sleep(kRetryMs * 5);  // several tries while the name is held
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), result.load());
    EXPECT_EQ(1, report.m_held.load()) << "said once, not on every try";
    EXPECT_TRUE(report.m_lastError == ERROR_ACCESS_DENIED || report.m_lastError == ERROR_PIPE_BUSY);
    EXPECT_EQ(kRetryMs, report.m_retryMs.load());

    held.Reset();
    owner.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), result.load());
    EXPECT_TRUE(owned);
    EXPECT_EQ(1, report.m_taken.load());

    // The owner's next instances share the name; the squatter cannot return.
    Common::CHandle next = server.NextInstance();
    EXPECT_TRUE(next);
    EXPECT_FALSE(Squat());
}

TEST(PipeServer, StopEndsTheWaitForAHeldName)
{
    Common::CHandle held = Squat();
    ASSERT_TRUE(held);

    const Common::CPipeServer server(kPipeName, TestShape());
    Common::CHandle stop(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    CCountingReport report;
    Common::CHandle owned;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), server.OwnName(stop.Get(), report, owned));
    EXPECT_FALSE(owned);
    EXPECT_EQ(1, report.m_held.load());
    EXPECT_EQ(0, report.m_taken.load());
}

} // namespace
