#pragma once
// What the tests of attaching and of the data pipes share: requests through
// Invoke, the host's event callback, and a device side writing into a
// device's data pipe.
#include <windows.h>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Handles.h"

namespace ProxyTest
{

// Invoke with a request text; the parsed response and the code.
struct CInvokeResult
{
    DWORD code = 0;
    std::string text;
    nlohmann::json response;
};
CInvokeResult Invoke(const std::string& request);
// "AddDevice" for a keyboard by container id; the handle, or -1.
int AttachByContainer(int pid, const std::string& containerId);

// The host's callback: every event text, in arrival order.
class CEventSink
{
public:
    CEventSink();   // becomes the callback, mode 0
    ~CEventSink();  // clears the callback
    std::vector<std::string> Texts() const;
    // Waits until at least count texts arrived.
    bool WaitForCount(size_t count, DWORD timeoutMs) const;
    void Clear();

private:
    static void OnEvent(const char* text);
};

// A host callback that can hold the thread delivering an event, as a host
// whose callback waits for its own busy thread would. It counts the calls;
// until Hold() every call returns at once.
class CHeldCallback
{
public:
    static void Callback(const char* text);
    static LONG Calls();
    // From now on each call waits until Release (up to 30 s); the count and
    // the entered signal start again.
    static void Hold();
    static void Release();
    // Waits until a call has entered since Hold.
    static bool WaitEntered(DWORD timeoutMs);
};

// The device side of one data pipe.
class CDeviceClient
{
public:
    // Connects, waiting up to timeoutMs for an instance of the pipe.
    explicit CDeviceClient(const std::wstring& pipeName, DWORD timeoutMs = 5000);
    bool IsConnected() const { return m_pipe.IsValid(); }
    bool Send(const std::string& message) const;
    void Close() { m_pipe.Reset(); }

private:
    Common::CHandle m_pipe;
};

// The data pipe the proxy serves for a device it attached.
std::wstring PipeNameOf(DWORD handle);
// The device's debug log, "Debug_<handle>.log", as UTF-8 lines.
std::vector<std::string> DebugLogLines(const std::wstring& installPath, int handle);

} // namespace ProxyTest
