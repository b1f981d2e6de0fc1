// The host's end of its control pipe; see ControlServer.h.
#include "ControlServer.h"

#include <cstring>
#include <new>

#include "HostOutput.h"
#include "PipeIo.h"
#include "PipeServer.h"
#include "ReplyText.h"

namespace Host
{
namespace
{

constexpr DWORD kRequestTimeoutMs = 2000;  // connect to complete request
constexpr DWORD kReplyTimeoutMs = 2000;    // to hand the reply over
constexpr DWORD kCloseTimeoutMs = 2000;    // for the client to read it and close
constexpr DWORD kMaxDrainBytes = 65536;    // of an oversized message, then give up
constexpr DWORD kRetryDelayMs = 100;       // after a failed connect

} // namespace

CControlServer::CControlServer(CHostCommandHandler& handler) : m_handler(handler) {}

CControlServer::~CControlServer()
{
    Stop();
}

DWORD CControlServer::Create(const std::wstring& pipeName)
{
    m_reply.reset(new (std::nothrow) _HOSTREPLY());
    m_stop.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_reply || !m_stop)
        return ERROR_NOT_ENOUGH_MEMORY;
    // One instance, and the first one of that name: a second host with the
    // same name fails here instead of sharing its clients.
    Common::CPipeShape shape;
    shape.openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    shape.pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
    shape.maxInstances = 1;
    shape.outBytes = sizeof(_HOSTREPLY);
    shape.inBytes = sizeof(_HOSTREQUEST);
    m_pipe = Common::CPipeServer(pipeName.c_str(), shape).CreateInstance(true);
    if (!m_pipe)
        return ::GetLastError();
    return ERROR_SUCCESS;
}

DWORD CControlServer::Start()
{
    if (!m_pipe || m_thread.Owns())
        return ERROR_INVALID_STATE;
    return m_thread.Start(this, &CControlServer::ThreadBody);
}

void CControlServer::Stop()
{
    if (m_stop)
        ::SetEvent(m_stop.Get());
    m_thread.Join(INFINITE);
    m_pipe.Reset();
}

DWORD CControlServer::ThreadBody() noexcept
{
    try
    {
        Serve();
    }
    catch (...)
    {
        HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Control pipe thread ended by an exception");
    }
    return 0;
}

void CControlServer::Serve()
{
    HANDLE stop = m_stop.Get();
    while (::WaitForSingleObject(stop, 0) == WAIT_TIMEOUT)
    {
        const DWORD status = Common::ConnectPipeClient(m_pipe.Get(), stop);
        if (status == ERROR_SUCCESS)
            ServeClient();
        else if (status != ERROR_NO_DATA && status != ERROR_OPERATION_ABORTED)
        {
            HOST_REPORT(Common::LOG_ERROR, L"[VxSvcHost] Control pipe connect failed | error = %lu",
                        status);
            ::WaitForSingleObject(stop, kRetryDelayMs);
        }
        ::DisconnectNamedPipe(m_pipe.Get());
    }
}

void CControlServer::ServeClient()
{
    _HOSTREQUEST request = {};
    bool wellFormed = false;
    if (!ReadRequest(request, wellFormed))
        return;
    Reply(request, wellFormed);
    // DisconnectNamedPipe would discard a reply the client has not read yet.
    Common::WaitForClientClose(m_pipe.Get(), kCloseTimeoutMs, m_stop.Get());
    if (wellFormed)
        m_handler.Delivered(request);
}

bool CControlServer::ReadRequest(_HOSTREQUEST& request, bool& wellFormed)
{
    const ULONGLONG deadline = ::GetTickCount64() + kRequestTimeoutMs;
    // Room for one byte more than a request, to tell a longer message apart.
    BYTE buffer[sizeof(_HOSTREQUEST) + 1];
    DWORD bytes = 0;
    const DWORD status = Common::ReadPipeMessage(m_pipe.Get(), buffer, sizeof(buffer), bytes,
                                                 Common::RemainingMs(deadline), m_stop.Get());
    if (status == ERROR_MORE_DATA)
        DrainMessage(deadline);
    else if (status != ERROR_SUCCESS)
        return false;  // silent, gone, or we are stopping: nobody to answer
    wellFormed = false;
    if (status == ERROR_SUCCESS && bytes == sizeof(_HOSTREQUEST))
    {
        std::memcpy(&request, buffer, sizeof(request));
        wellFormed = request.magic == kHostProtocolMagic && request.version == kHostProtocolVersion;
    }
    if (!wellFormed)
        request = _HOSTREQUEST{};
    return true;
}

void CControlServer::DrainMessage(ULONGLONG deadline)
{
    BYTE scratch[4096];
    for (DWORD total = 0; total < kMaxDrainBytes;)
    {
        DWORD bytes = 0;
        const DWORD status = Common::ReadPipeMessage(m_pipe.Get(), scratch, sizeof(scratch), bytes,
                                                     Common::RemainingMs(deadline), m_stop.Get());
        if (status != ERROR_MORE_DATA)
            return;
        total += bytes;
    }
}

void CControlServer::Reply(const _HOSTREQUEST& request, bool wellFormed)
{
    _HOSTREPLY& reply = *m_reply;
    std::memset(&reply, 0, sizeof(reply));
    reply.magic = kHostProtocolMagic;
    reply.version = kHostProtocolVersion;
    reply.processId = ::GetCurrentProcessId();
    if (wellFormed)
    {
        reply.command = request.command;
        m_handler.Execute(request, reply);
    }
    else
    {
        reply.command = HOST_CMD_NONE;
        reply.status = ERROR_INVALID_DATA;
        AppendReplyText(reply, L"Malformed request");
        HOST_REPORT(Common::LOG_WARN, L"[VxSvcHost] Malformed request on the control pipe");
    }
    reply.text[kHostReplyTextChars - 1] = L'\0';
    Common::WritePipeMessage(m_pipe.Get(), &reply, sizeof(reply), kReplyTimeoutMs, m_stop.Get());
}

} // namespace Host
