#include "ProxySession.h"

#include <objbase.h>
#include <algorithm>
#include <sstream>

#include "EventDelivery.h"
#include "KaleoSDKNative.h"
#include "Locks.h"
#include "ProxyRequests.h"
#include "TestEnv.h"

namespace ProxyTest
{
namespace
{

// An SRW lock: the thread library's mutex keeps an event once contended.
Common::CSrwLock g_eventLock;
std::vector<std::string> g_events;

} // namespace

CInvokeResult Invoke(const std::string& request)
{
    CInvokeResult result;
    wchar_t* response = nullptr;
    result.code = ProxyInvoke(TestEnv::Widen(request).c_str(), &response);
    if (response)
    {
        result.text = TestEnv::Narrow(response);
        ::CoTaskMemFree(response);
        result.response = nlohmann::json::parse(result.text, nullptr, false);
    }
    return result;
}

int AttachByContainer(int pid, const std::string& containerId)
{
    const nlohmann::json request = {{"func", "AddDevice"}, {"param", {{"pid", pid}, {"containerId", containerId}}}};
    const CInvokeResult result = Invoke(request.dump());
    if (result.response.value("result", -1) != 0)
        return -1;
    return result.response["return"]["device_handle"].get<int>();
}

CEventSink::CEventSink()
{
    Clear();
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
    VxKaleoSDKProxy::SetEventCallback(&OnEvent);
}

CEventSink::~CEventSink()
{
    VxKaleoSDKProxy::SetEventCallback(nullptr);
    VxKaleoSDKProxy::SetOperatingMode(VxKaleoSDKProxy::MODE_IMMEDIATE);
}

void CEventSink::OnEvent(const char* text)
{
    Common::CSrwLock::CScopedLock lock(g_eventLock);
    g_events.emplace_back(text);
}

std::vector<std::string> CEventSink::Texts() const
{
    Common::CSrwLock::CScopedLock lock(g_eventLock);
    return g_events;
}

bool CEventSink::WaitForCount(size_t count, DWORD timeoutMs) const
{
    return TestEnv::WaitFor(
        [&] {
            Common::CSrwLock::CScopedLock lock(g_eventLock);
            return g_events.size() >= count;
        },
        timeoutMs);
}

void CEventSink::Clear()
{
    Common::CSrwLock::CScopedLock lock(g_eventLock);
    g_events.clear();
}

CDeviceClient::CDeviceClient(const std::wstring& pipeName, DWORD timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    do
    {
        m_pipe.Reset(::CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        if (m_pipe)
            return;
        if (::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(pipeName.c_str(), 100);
        else
            ::Sleep(10);
    } while (::GetTickCount64() < deadline);
}

bool CDeviceClient::Send(const std::string& message) const
{
    DWORD written = 0;
    return ::WriteFile(m_pipe.Get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
           written == message.size();
}

std::wstring PipeNameOf(DWORD handle)
{
    CKaleoSDKNative* native = CKaleoSDKNative::Instance();
    if (!native || !native->DeviceManager())
        return std::wstring();
    const DeviceTable table = native->DeviceManager()->CopyRecords();
    const auto it = table.find(handle);
    return it == table.end() ? std::wstring() : it->second.pipeName;
}

std::vector<std::string> DebugLogLines(const std::wstring& installPath, int handle)
{
    const std::wstring path = installPath + L"\\Logs\\Debug_" + std::to_wstring(handle) + L".log";
    std::istringstream text(TestEnv::Narrow(TestEnv::ReadUtf16File(path)));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

namespace
{
volatile LONG g_heldCalls = 0;
Common::CHandle g_heldEntered(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
Common::CHandle g_heldRelease(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
} // namespace

void CHeldCallback::Callback(const char*)
{
    ::InterlockedIncrement(&g_heldCalls);
    ::SetEvent(g_heldEntered.Get());
    ::WaitForSingleObject(g_heldRelease.Get(), 30000);
}

LONG CHeldCallback::Calls()
{
    return ::InterlockedCompareExchange(&g_heldCalls, 0, 0);
}

void CHeldCallback::Hold()
{
    ::ResetEvent(g_heldRelease.Get());
    ::ResetEvent(g_heldEntered.Get());
    ::InterlockedExchange(&g_heldCalls, 0);
}

void CHeldCallback::Release()
{
    ::SetEvent(g_heldRelease.Get());
}

bool CHeldCallback::WaitEntered(DWORD timeoutMs)
{
    return ::WaitForSingleObject(g_heldEntered.Get(), timeoutMs) == WAIT_OBJECT_0;
}

} // namespace ProxyTest
