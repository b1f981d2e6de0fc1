// The two registration request channels: the request ring server
// (DoMonitorRegister) and the control pipe server (DoMonitorRegister2), each
// with a stop watcher on the manager's task group.
//
// Both serve requests of other processes, so neither may be stopped or held
// up by one of them: ring fields are read bounded (RequestRing.cpp), a pipe
// client gets a bounded time to deliver its block, and every request runs
// under its own exception guard.
#include "AppManager.h"

#include <atomic>
#include <memory>

#include "GlobalSecurity.h"
#include "Locks.h"
#include "LogWriter.h"
#include "RequestRing.h"

using namespace Common;

namespace
{
// Spaces consecutive requests on one channel.
constexpr DWORD kRequestPauseMs = 500;
// A pulse reaches only current waiters, so one sent while the server is busy
// is lost; the ring is looked at this often even without one.
constexpr DWORD kRingPollMs = 1000;
// A connected client has this long to deliver its block before it is dropped.
constexpr DWORD kClientReadTimeoutMs = 3000;

constexpr DWORD kBlockSize = sizeof(_REGISTERDATATYPE);
constexpr DWORD kPipeOpenMode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED;
constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
static_assert(kBlockSize == 3600, "one message is one registration block");
static_assert(kPipeMode == 6, "message type, message reads, blocking mode");
static_assert(PIPE_UNLIMITED_INSTANCES == 255, "unlimited instances");

// What a channel thread shares with its stop watcher. Both hold it through a
// shared pointer, and the watcher keeps its own duplicate of the stop event,
// so the watcher never touches the manager at all.
class CChannelState
{
public:
    CChannelState() = default;
    CChannelState(const CChannelState&) = delete;
    CChannelState& operator=(const CChannelState&) = delete;

    // 0 or the Win32 error; without it no watcher can run.
    DWORD Init(HANDLE stopEvent)
    {
        m_ended.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!m_ended)
            return ::GetLastError();
        const HANDLE self = ::GetCurrentProcess();
        if (!::DuplicateHandle(self, stopEvent, self, m_stop.Put(), SYNCHRONIZE, FALSE, 0))
            return ::GetLastError();
        return ERROR_SUCCESS;
    }

    bool IsRunning() const { return m_running.load(); }
    void ClearRunning() { m_running.store(false); }

    // The pipe instance the thread serves now (null: none). The thread's own
    // CHandle owns it and clears it here before closing it.
    void SetCurrentPipe(HANDLE pipe)
    {
        CSrwLock::CScopedLock lock(m_lock);
        m_currentPipe = pipe;
    }

    // The thread leaves: the watcher may go too.
    void SetEnded()
    {
        if (m_ended)
            ::SetEvent(m_ended.Get());
    }

    // The watcher's body: on the stop event, clears the running flag and
    // disconnects the current pipe instance, which ends a pending connect or
    // read. Ends without acting when the thread ended first.
    void Watch()
    {
        const HANDLE waits[2] = {m_stop.Get(), m_ended.Get()};
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0)
            return;
        ClearRunning();
        CSrwLock::CScopedLock lock(m_lock);
        if (m_currentPipe)
            ::DisconnectNamedPipe(m_currentPipe);
    }

private:
    std::atomic<bool> m_running{true};
    CSrwLock m_lock;         // guards m_currentPipe
    HANDLE m_currentPipe = nullptr;  // not owned, see SetCurrentPipe
    CHandle m_stop;
    CHandle m_ended;
};

// Marks the channel ended however the thread leaves.
class CChannelEnd
{
public:
    explicit CChannelEnd(CChannelState& state) : m_state(state) {}
    ~CChannelEnd() { m_state.SetEnded(); }
    CChannelEnd(const CChannelEnd&) = delete;
    CChannelEnd& operator=(const CChannelEnd&) = delete;

private:
    CChannelState& m_state;
};

// Publishes a pipe instance to the watcher for the scope's life. Declared
// after the instance's CHandle, so it is withdrawn before the handle closes.
class CCurrentPipe
{
public:
    CCurrentPipe(CChannelState& state, HANDLE pipe) : m_state(state) { m_state.SetCurrentPipe(pipe); }
    ~CCurrentPipe() { m_state.SetCurrentPipe(nullptr); }
    CCurrentPipe(const CCurrentPipe&) = delete;
    CCurrentPipe& operator=(const CCurrentPipe&) = delete;

private:
    CChannelState& m_state;
};

// The channel's shared state with its watcher started on the task group.
// Without a watcher the thread still ends: it waits on the stop event itself.
std::shared_ptr<CChannelState> StartChannel(CTaskGroup& tasks, HANDLE stopEvent, const wchar_t* channel)
{
    auto state = std::make_shared<CChannelState>();
    const DWORD rc = state->Init(stopEvent);
    if (rc != ERROR_SUCCESS)
        KLOG(LOG_ERROR, L"[AppManager] No stop watcher for the %s (%lu)", channel, rc);
    else if (!tasks.Run([state] { state->Watch(); }))
        KLOG(LOG_ERROR, L"[AppManager] Cannot start the stop watcher of the %s", channel);
    return state;
}

// The pause after a request; false when the stop event ended it early.
bool Pause(HANDLE stopEvent)
{
    return ::WaitForSingleObject(stopEvent, kRequestPauseMs) == WAIT_TIMEOUT;
}

// ---------------------------------------------------------------------------
// Request ring

void ServeRingRequest(CAppManager& manager, const CRingRequest& request)
{
    try
    {
        if (request.dwRequest == REQUEST_REGISTER)
            manager.Register(request.dwProcessId);
        else
            manager.Unregister(request.dwProcessId);
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Ring request of pid %lu failed with an exception", request.dwProcessId);
    }
}

// ---------------------------------------------------------------------------
// Control pipe

// Waits for an overlapped call on the pipe to finish, for the stop event or
// for the time-out. A call that has not finished is cancelled and waited out,
// so the OVERLAPPED never goes away under a pending call. 0 when the call
// succeeded; else its error, ERROR_OPERATION_ABORTED for a stop, WAIT_TIMEOUT
// for the time-out.
DWORD WaitForPipeIo(HANDLE pipe, OVERLAPPED& ov, HANDLE stopEvent, DWORD timeoutMs, DWORD& bytes)
{
    const HANDLE waits[2] = {ov.hEvent, stopEvent};
    const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    const DWORD waitError = ::GetLastError();
    DWORD outcome = ERROR_SUCCESS;
    if (waited == WAIT_OBJECT_0 + 1)
        outcome = ERROR_OPERATION_ABORTED;
    else if (waited == WAIT_TIMEOUT)
        outcome = WAIT_TIMEOUT;
    else if (waited != WAIT_OBJECT_0)
        outcome = waitError != ERROR_SUCCESS ? waitError : ERROR_GEN_FAILURE;
    if (waited != WAIT_OBJECT_0)
        ::CancelIoEx(pipe, &ov);

    bytes = 0;
    if (::GetOverlappedResult(pipe, &ov, &bytes, TRUE))
        return ERROR_SUCCESS;  // finished after all, maybe just before the cancel
    const DWORD error = ::GetLastError();
    if (waited != WAIT_OBJECT_0)
        return outcome;
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

// Waits for a client. A client that connected between the creation and this
// call is connected already: that is a success too.
DWORD ConnectClient(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent)
{
    OVERLAPPED ov{};
    ov.hEvent = ioEvent;
    if (::ConnectNamedPipe(pipe, &ov))
        return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    if (error == ERROR_PIPE_CONNECTED)
    {
        KLOG(LOG_DEBUG, L"[AppManager] Control pipe client connected before the wait");
        return ERROR_SUCCESS;
    }
    if (error != ERROR_IO_PENDING)
        return error;
    DWORD bytes = 0;
    return WaitForPipeIo(pipe, ov, stopEvent, INFINITE, bytes);
}

// Reads one message of at most one block into the zeroed block. A longer
// message fails with ERROR_MORE_DATA.
DWORD ReadBlock(HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent, _REGISTERDATATYPE& block, DWORD& bytes)
{
    ::ZeroMemory(&block, sizeof(block));
    bytes = 0;
    OVERLAPPED ov{};
    ov.hEvent = ioEvent;
    if (::ReadFile(pipe, &block, kBlockSize, nullptr, &ov))
        return ::GetOverlappedResult(pipe, &ov, &bytes, FALSE) ? ERROR_SUCCESS : ::GetLastError();
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING)
        return error;
    return WaitForPipeIo(pipe, ov, stopEvent, kClientReadTimeoutMs, bytes);
}

// One connected client: exactly one block of 3,600 bytes is a request; any
// other message, a failed read or a silent client is dropped.
void ServeClient(CAppManager& manager, HANDLE pipe, HANDLE ioEvent, HANDLE stopEvent)
{
    _REGISTERDATATYPE block;
    DWORD bytes = 0;
    const DWORD rc = ReadBlock(pipe, ioEvent, stopEvent, block, bytes);
    if (rc == WAIT_TIMEOUT)
    {
        KLOG(LOG_WARN, L"[AppManager] Control pipe client sent nothing within %lu ms: dropped", kClientReadTimeoutMs);
        return;
    }
    if (rc != ERROR_SUCCESS || bytes != kBlockSize)
        return;

    const DWORD processId = block.dwProcessId;
    try
    {
        if (block.dwRequest != 0)
        {
            manager.Register(&block);
            Pause(stopEvent);
        }
        else
        {
            // A stop cuts the pause short; the unregistration still runs.
            Pause(stopEvent);
            manager.Unregister(processId);
        }
    }
    catch (...)
    {
        KLOG(LOG_ERROR, L"[AppManager] Control pipe request of pid %lu failed with an exception", processId);
    }
}

bool IsStopping(const CChannelState& state, HANDLE stopEvent)
{
    return !state.IsRunning() || ::WaitForSingleObject(stopEvent, 0) != WAIT_TIMEOUT;
}
} // namespace

DWORD CAppManager::DoMonitorRegister()
{
    KLOG(LOG_INFO, L"[AppManager] [START] DoMonitorRegister");
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    CHandle wakeUp(::CreateEventW(security.Attributes(), TRUE, FALSE, REQUEST_RING_EVENT));
    if (!wakeUp)
        KLOG(LOG_ERROR, L"[AppManager] Error = %ld", ::GetLastError());

    CAppManagerData ring;
    const DWORD attached = ring.Attach();
    if (attached != ERROR_SUCCESS)
    {
        KLOG(LOG_ERROR, L"CAppManagerData::m_pData not valid");
        KLOG(LOG_ERROR, L"[AppManager] [END] DoMonitorRegister | result = %lu: no ring requests are served", attached);
        return attached;
    }

    std::shared_ptr<CChannelState> state = StartChannel(m_tasks, m_stopEvent.Get(), L"request ring");
    CChannelEnd end(*state);
    const HANDLE stopEvent = m_stopEvent.Get();

    // Requests written before the server started are not served.
    DWORD readIndex = ring.WriteIndex();
    DWORD result = ERROR_SUCCESS;
    bool stopping = false;
    while (!stopping)
    {
        const HANDLE waits[2] = {stopEvent, wakeUp.Get()};
        const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, kRingPollMs);
        if (waited == WAIT_OBJECT_0 || !state->IsRunning())
            break;
        if (waited == WAIT_FAILED)
        {
            result = CLogWriter::GetInstance()->LogErrorCode(::GetLastError(), __LINE__);
            break;
        }
        // Without a wake-up only a moved index means work.
        if (waited == WAIT_TIMEOUT && readIndex == ring.WriteIndex())
            continue;

        // A wake-up serves at least one slot: ten requests written at once
        // bring the index back to where it was. A round of empty slots ends
        // the turn, so an index moved by a stray writer cannot keep the
        // server spinning.
        DWORD emptyVisits = 0;
        do
        {
            const DWORD slot = readIndex;
            readIndex = (readIndex + 1) % REQUEST_RING_SLOTS;
            CRingRequest request;
            if (!ring.TakeRequest(slot, request))
            {
                if (++emptyVisits >= REQUEST_RING_SLOTS)
                    break;
                continue;
            }
            emptyVisits = 0;
            ServeRingRequest(*this, request);
            if (!Pause(stopEvent) || !state->IsRunning())
                stopping = true;
        } while (!stopping && readIndex != ring.WriteIndex());
    }
    KLOG(LOG_INFO, L"[AppManager] [END] DoMonitorRegister | result = %lu", result);
    return result;
}

DWORD CAppManager::DoMonitorRegister2()
{
    KLOG(LOG_INFO, L"[AppManager] [START] DoMonitorRegister2");
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    std::shared_ptr<CChannelState> state = StartChannel(m_tasks, m_stopEvent.Get(), L"control pipe");
    CChannelEnd end(*state);
    const HANDLE stopEvent = m_stopEvent.Get();

    CHandle ioEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!ioEvent)
    {
        CLogWriter::GetInstance()->LogWin32Error(::GetLastError(), __LINE__);
        state->ClearRunning();
    }

    while (!IsStopping(*state, stopEvent))
    {
        CHandle pipe(::CreateNamedPipeW(CONTROL_PIPE_NAME, kPipeOpenMode, kPipeMode, PIPE_UNLIMITED_INSTANCES,
                                        kBlockSize, kBlockSize, 0, security.Attributes()));
        if (!pipe)
        {
            state->ClearRunning();
            CLogWriter::GetInstance()->LogWin32Error(::GetLastError(), __LINE__);
            break;
        }
        CCurrentPipe current(*state, pipe.Get());

        const DWORD connected = ConnectClient(pipe.Get(), ioEvent.Get(), stopEvent);
        if (connected == ERROR_SUCCESS)
            ServeClient(*this, pipe.Get(), ioEvent.Get(), stopEvent);
        else if (connected == ERROR_OPERATION_ABORTED || IsStopping(*state, stopEvent))
            state->ClearRunning();  // a stop or a cancel ends the server
        else if (connected != ERROR_NO_DATA)
        {
            // ERROR_NO_DATA: the client came and went; the next one is served.
            // Any other failure would recur with every new instance.
            state->ClearRunning();
            CLogWriter::GetInstance()->LogWin32Error(connected, __LINE__);
        }
        ::FlushFileBuffers(pipe.Get());
        ::DisconnectNamedPipe(pipe.Get());
    }
    KLOG(LOG_INFO, L"[AppManager] [END] DoMonitorRegister2");
    return ERROR_SUCCESS;
}
