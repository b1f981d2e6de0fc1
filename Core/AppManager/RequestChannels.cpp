// The two registration request channels: the request ring server
// (DoMonitorRegister) and the control pipe server (DoMonitorRegister2).
//
// Both serve requests of other processes, so neither may be stopped or held
// up by one of them: ring fields are read bounded (RequestRing.cpp), a pipe
// client gets a bounded time to deliver its block, and every request runs
// under its own exception guard.
//
// Stopping: each server waits on the manager's stop event in every wait it
// makes (the ring's wake-up wait, the pipe's connect and read, the pause
// after a request, the retry while the pipe's name is taken). Setting that
// event is the one way to end them; CAppManager::UnInit sets it and joins
// the threads.
#include "AppManager.h"

#include "GlobalSecurity.h"
#include "LogWriter.h"
#include "PipeIo.h"
#include "PipeServer.h"
#include "RequestRing.h"

using namespace Common;
using namespace AppRequests;

namespace
{
// Spaces consecutive requests on one channel.
constexpr DWORD kRequestPauseMs = 500;
// A pulse reaches only current waiters, so one sent while the server is busy
// is lost; the ring is looked at this often even without one.
constexpr DWORD kRingPollMs = 1000;
// A connected client has this long to deliver its block before it is dropped.
constexpr DWORD kClientReadTimeoutMs = 3000;
// While another process holds the pipe's name, the server tries this often
// to take it.
constexpr DWORD kPipeNameRetryMs = 3000;

constexpr DWORD kBlockSize = sizeof(_REGISTERDATATYPE);
// Overlapped, so that every wait on the pipe also waits for the stop event.
constexpr DWORD kPipeOpenMode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED;
constexpr DWORD kPipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
static_assert(kBlockSize == 3600, "one message is one registration block");
static_assert(kPipeMode == 6, "message type, message reads, blocking mode");
static_assert(PIPE_UNLIMITED_INSTANCES == 255, "unlimited instances");

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

// Serves the batch in order, pausing after each request; false when the
// stop event cut a pause short.
bool ServeRingBatch(CAppManager& manager, const CRingCursor::CBatch& batch, HANDLE stopEvent)
{
    for (DWORD i = 0; i < batch.count; ++i)
    {
        ServeRingRequest(manager, batch.requests[i]);
        if (!Pause(stopEvent))
            return false;
    }
    return true;
}

// Serves what the ring holds that is new. Requests written during the
// pauses come with pulses nobody waited for, so after a batch the ring is
// looked at again at once. False when the stop event cut a pause short.
bool ServeNewRingRequests(CAppManager& manager, const CAppManagerData& ring, CRingCursor& cursor, bool woken,
                          HANDLE stopEvent)
{
    CRingCursor::CBatch batch;
    do
    {
        cursor.TakeNew(ring, woken, batch);
        woken = false;
        if (!ServeRingBatch(manager, batch, stopEvent))
            return false;
    } while (batch.count != 0);
    return true;
}

// ---------------------------------------------------------------------------
// Control pipe

// Remote clients are refused (CPipeServer): registrations come from apps on
// this machine.
CPipeServer ControlPipe(CGlobalSecurity& security)
{
    CPipeShape shape;
    shape.openMode = kPipeOpenMode;
    shape.pipeMode = kPipeMode;
    shape.maxInstances = PIPE_UNLIMITED_INSTANCES;
    shape.outBytes = kBlockSize;
    shape.inBytes = kBlockSize;
    shape.security = security.Attributes();
    shape.nameRetryMs = kPipeNameRetryMs;
    return CPipeServer(CONTROL_PIPE_NAME, shape);
}

// A name another process holds is never shared: the server says so and
// tries again until the name is free or the stop event is set.
class CControlPipeReport final : public CPipeNameReport
{
public:
    void NameHeld(DWORD error, DWORD retryMs) noexcept override
    {
        KLOG(LOG_ERROR, L"[AppManager] Control pipe name is held by another process (%lu): "
                        L"not served, trying again every %lu ms",
             error, retryMs);
    }
    void NameTaken() noexcept override { KLOG(LOG_INFO, L"[AppManager] Control pipe name is free again: serving"); }
};

// One connected client: exactly one block of 3,600 bytes is a request; any
// other message, a failed read or a silent client is dropped.
void ServePipeClient(CAppManager& manager, HANDLE pipe, HANDLE stopEvent)
{
    _REGISTERDATATYPE block;
    ::ZeroMemory(&block, sizeof(block));
    DWORD bytes = 0;
    // A longer message fails with ERROR_MORE_DATA and is dropped with the client.
    const DWORD rc = ReadPipeMessage(pipe, &block, kBlockSize, bytes, kClientReadTimeoutMs, stopEvent);
    if (rc == ERROR_TIMEOUT)
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
} // namespace

// The request ring server.
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

    const HANDLE stopEvent = m_stopEvent.Get();
    // Requests written before the server started are not served.
    CRingCursor cursor;
    cursor.Start(ring);
    DWORD result = ERROR_SUCCESS;
    bool stopping = false;
    // A wake-up event another process set instead of pulsing would wake the
    // server without end; it then looks at the ring at the poll interval.
    bool wakeUpStuck = false;
    while (!stopping)
    {
        const HANDLE waits[2] = {stopEvent, wakeUp.Get()};
        const DWORD waited = ::WaitForMultipleObjects(wakeUpStuck ? 1 : 2, waits, FALSE, kRingPollMs);
        if (waited == WAIT_OBJECT_0)
            break;
        if (waited == WAIT_FAILED)
        {
            result = CLogWriter::GetInstance()->LogErrorCode(::GetLastError(), __LINE__);
            break;
        }
        const bool woken = waited == WAIT_OBJECT_0 + 1 ||
                           (wakeUpStuck && ::WaitForSingleObject(wakeUp.Get(), 0) == WAIT_OBJECT_0);
        stopping = !ServeNewRingRequests(*this, ring, cursor, woken, stopEvent);
        wakeUpStuck = ::WaitForSingleObject(wakeUp.Get(), 0) == WAIT_OBJECT_0;
    }
    KLOG(LOG_INFO, L"[AppManager] [END] DoMonitorRegister | result = %lu", result);
    return result;
}

// The control pipe server. The name is owned from the first instance on:
// the instance that waits for the next client is created before the served
// one is closed, so no other process can create the name in between.
DWORD CAppManager::DoMonitorRegister2()
{
    KLOG(LOG_INFO, L"[AppManager] [START] DoMonitorRegister2");
    CGlobalSecurity security;
    security.Build();  // default security when it cannot be built
    const HANDLE stopEvent = m_stopEvent.Get();
    const CPipeServer server = ControlPipe(security);

    CHandle listening;
    CControlPipeReport report;
    const DWORD owned = server.OwnName(stopEvent, report, listening);
    if (owned != ERROR_SUCCESS && owned != ERROR_OPERATION_ABORTED)
        CLogWriter::GetInstance()->LogWin32Error(owned, __LINE__);
    // A client that connected while the last one was served would be
    // served without a wait, so the stop is looked at before each one.
    while (listening && ::WaitForSingleObject(stopEvent, 0) == WAIT_TIMEOUT)
    {
        DWORD connected = ConnectPipeClient(listening.Get(), stopEvent);
        // A client that connected while the server paused may have written
        // its block and closed already: the block still waits in the
        // instance and is served like any other.
        if (connected == ERROR_NO_DATA)
            connected = ERROR_SUCCESS;
        if (connected != ERROR_SUCCESS)
        {
            // A stop ends the connect with ERROR_OPERATION_ABORTED; any other
            // failure would recur with every instance. Either ends the server.
            CLogWriter::GetInstance()->LogWin32Error(connected, __LINE__);
            break;
        }

        CHandle next = server.NextInstance();
        if (!next)  // the served instance is used again once its client is gone
            CLogWriter::GetInstance()->LogWin32Error(::GetLastError(), __LINE__);
        ServePipeClient(*this, listening.Get(), stopEvent);
        ::FlushFileBuffers(listening.Get());
        ::DisconnectNamedPipe(listening.Get());
        if (next)
            listening = std::move(next);
    }
    KLOG(LOG_INFO, L"[AppManager] [END] DoMonitorRegister2");
    return ERROR_SUCCESS;
}
