#pragma once
// The host's end of its control pipe: one thread serving one client at a
// time, one request and one reply per connection. Every wait is bounded, so
// a client that stalls or sends garbage delays the next one by seconds at
// most and never stops the server.
#include <windows.h>
#include <memory>
#include <string>
#include "Handles.h"
#include "HostProtocol.h"
#include "ThreadOwner.h"

namespace Host
{

// What the server does with a well-formed request.
class CHostCommandHandler
{
public:
    virtual ~CHostCommandHandler() = default;
    // Fills reply (framing fields are set already) on the server thread.
    virtual void Execute(const _HOSTREQUEST& request, _HOSTREPLY& reply) = 0;
    // The reply was delivered, or the client is gone.
    virtual void Delivered(const _HOSTREQUEST& request) = 0;
};

class CControlServer
{
public:
    explicit CControlServer(CHostCommandHandler& handler);
    ~CControlServer();  // stops
    CControlServer(const CControlServer&) = delete;
    CControlServer& operator=(const CControlServer&) = delete;

    // Creates the pipe; fails while another host serves the same name.
    DWORD Create(const std::wstring& pipeName);
    DWORD Start();
    // Ends the thread; a request in progress is abandoned.
    void Stop();
    // Set once the server is stopping; waits on behalf of a request end with it.
    HANDLE StopEvent() const { return m_stop.Get(); }

private:
    DWORD ThreadBody() noexcept;
    void Serve();
    void ServeClient();
    // Reads one request; false when there is nobody left to answer.
    bool ReadRequest(_HOSTREQUEST& request, bool& wellFormed);
    void DrainMessage(ULONGLONG deadline);
    void Reply(const _HOSTREQUEST& request, bool wellFormed);

    CHostCommandHandler& m_handler;
    Common::CHandle m_pipe;
    Common::CHandle m_stop;
    Common::CThreadOwner m_thread;
    std::unique_ptr<_HOSTREPLY> m_reply;  // 8 KB, kept off the thread's stack
};

} // namespace Host
