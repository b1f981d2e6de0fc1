#include "ProxyRequests.h"

#include <objbase.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "DeviceHandleJson.h"
#include "JsonInt.h"
#include "JsonNesting.h"
#include "KaleoSDKNative.h"
#include "LogWriter.h"
#include "RequestFields.h"
#include "TextCodec.h"
#include "VxKaleoSDKNative.h"

using nlohmann::json;

namespace
{

const wchar_t INVOKE_NAME[] = L"Invoke";
// E_FAIL as a signed 32-bit number: the action entry's answer to a request
// it could not even read.
constexpr long long STATUS_REQUEST_UNREADABLE = -2147467259LL;
const wchar_t FALLBACK_RESPONSE[] = L"{\"message\":\"ERROR_FUNCTION_FAILED\",\"result\":1627,\"return\":null}";

std::atomic<ProxyAllocator> g_allocator{nullptr};

// Copying a request into a handler and writing it out again recurse once
// per level: deeper requests are refused before they are parsed.
constexpr int MAX_REQUEST_DEPTH = 256;

bool NestingAllowed(const std::string& text) noexcept
{
    return Common::JsonNestingWithin(text.data(), text.size(), MAX_REQUEST_DEPTH);
}

void SetOutcome(json& response, const char* message, DWORD result)
{
    response["message"] = message;
    response["result"] = result;
}

// Dispatches one parsed request by its "func"; the function result.
DWORD Dispatch(json& request, json& response)
{
    const json& func = request["func"];
    if (func.is_null())
    {
        SetOutcome(response, "ERROR_NOT_FOUND", ERROR_NOT_FOUND);
        return ERROR_NOT_FOUND;
    }
    CKaleoSDKNative* native = CKaleoSDKNative::Instance();
    if (!native)
    {
        SetOutcome(response, "ERROR_OBJECT_NOT_FOUND", ERROR_OBJECT_NOT_FOUND);
        return ERROR_OBJECT_NOT_FOUND;
    }
    if (func == "AddDevice")
    {
        response = native->HandleAddDevice(request);
        return ERROR_SUCCESS;
    }
    if (func == "SetDeviceState")
    {
        response = native->HandleSetDeviceState(request);
        return ERROR_SUCCESS;
    }
    SetOutcome(response, "ERROR_UNKNOWN_FEATURE", ERROR_UNKNOWN_FEATURE);
    return ERROR_UNKNOWN_FEATURE;
}

wchar_t* CopyToTaskMemory(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy)
        std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

// Parses the request and dispatches it; a text that cannot be read (too
// deep, malformed, or of the wrong types) answers ERROR_BAD_FORMAT. The
// function result.
DWORD ParseAndDispatch(const std::string& text, json& reply)
{
    if (!NestingAllowed(text))
    {
        KLOG(Common::LOG_ERROR, L"%s | request nested deeper than %d levels: refused", INVOKE_NAME,
             MAX_REQUEST_DEPTH);
        SetOutcome(reply, "ERROR_BAD_FORMAT", ERROR_BAD_FORMAT);
        return ERROR_BAD_FORMAT;
    }
    try
    {
        json parsed = json::parse(text);
        return Dispatch(parsed, reply);
    }
    catch (const json::exception& e)
    {
        KLOG(Common::LOG_ERROR, L"%s | json exception | %hs (%d)", INVOKE_NAME, e.what(), e.id);
        SetOutcome(reply, "ERROR_BAD_FORMAT", ERROR_BAD_FORMAT);
        return ERROR_BAD_FORMAT;
    }
}

// Everything of Invoke that may throw: conversions and allocations.
DWORD InvokeChecked(const wchar_t* request, wchar_t*& response)
{
    const std::wstring wideRequest = request ? request : L"";
    const std::string text = TextCodec::WideToAnsi(wideRequest);
    json reply = json{{"message", "ERROR_FUNCTION_FAILED"}, {"result", ERROR_FUNCTION_FAILED}, {"return", nullptr}};
    KLOG(Common::LOG_INFO, L"%s | message = %s", INVOKE_NAME, wideRequest.c_str());
    const DWORD result = ParseAndDispatch(text, reply);
    const std::string out = reply.dump();
    const std::wstring wideOut = TextCodec::AnsiToWide(out);
    KLOG(Common::LOG_INFO, L"%s | response = %s", INVOKE_NAME, wideOut.c_str());
    wchar_t* copy = CopyToTaskMemory(wideOut);
    if (!copy)
        throw std::bad_alloc();
    response = copy;
    return result;
}

// Action 5: a whole Invoke request. The result object becomes the response.
long long ForwardToInvoke(const json& message, json& result)
{
    const std::wstring request = TextCodec::AnsiToWide(VxKaleoSDKProxy::UnquoteForwarded(message));
    wchar_t* response = nullptr;
    const DWORD rc = ProxyInvoke(request.c_str(), &response);
    if (!response)
        throw std::bad_alloc();
    std::wstring wide;
    try
    {
        wide = response;
    }
    catch (...)
    {
        ::CoTaskMemFree(response);
        throw;
    }
    ::CoTaskMemFree(response);
    result = json::parse(TextCodec::WideToAnsi(wide));
    return static_cast<long long>(rc);
}

long long RunAction(json& request, json& result)
{
    switch (JsonInt(request["Action"]))
    {
    case 1:
        result["numDevice"] = ProxyInit();
        return result["numDevice"].get<long long>();
    case 2:
        result["error"] = ProxyUnInit();
        return result["error"].get<long long>();
    case 3:
        (void)JsonInt(request["pid"]);
        result[DEVICE_HANDLE_MEMBER] = DeviceHandleToJson(0);
        return -1;
    case 4:
        return static_cast<long long>(ProxyRemoveDevice(DeviceHandleFromJson(request[DEVICE_HANDLE_MEMBER])));
    case 5:
        return ForwardToInvoke(request["message"], result);
    default:
        return -1;
    }
}

char* CopyResult(const std::string& text)
{
    const size_t bytes = text.size() + 2;
    const ProxyAllocator allocator = g_allocator.load();
    char* copy = static_cast<char*>(allocator ? allocator(bytes) : std::malloc(bytes));
    if (!copy)
        return nullptr;
    std::memcpy(copy, text.c_str(), text.size() + 1);
    copy[bytes - 1] = '\0';
    return copy;
}

} // namespace

DWORD ProxyInvoke(const wchar_t* request, wchar_t** response) noexcept
{
    if (!response)
        return ERROR_INVALID_PARAMETER;
    try
    {
        return InvokeChecked(request, *response);
    }
    catch (...)
    {
        // A conversion or allocation failed: the fixed failure response.
        KLOG(Common::LOG_ERROR, L"%s | the request could not be served: out of memory or not convertible",
             INVOKE_NAME);
        *response = static_cast<wchar_t*>(::CoTaskMemAlloc(sizeof(FALLBACK_RESPONSE)));
        if (*response)
            std::memcpy(*response, FALLBACK_RESPONSE, sizeof(FALLBACK_RESPONSE));
        return ERROR_FUNCTION_FAILED;
    }
}

char* ProxyAction(const char* text, bool wantResult) noexcept
{
    try
    {
        json result;
        try
        {
            const std::string requestText = text ? text : "";
            // Too deep to be handled: answered as a request that cannot be read.
            if (!NestingAllowed(requestText))
                throw std::length_error("request nested too deeply");
            json request = json::parse(requestText);
            long long status = -1;
            try
            {
                status = RunAction(request, result);
            }
            catch (...)
            {
                status = -1;
            }
            result["Status"] = status;
        }
        catch (...)
        {
            result = json{{"Status", STATUS_REQUEST_UNREADABLE}};
        }
        return wantResult ? CopyResult(result.dump()) : nullptr;
    }
    catch (...)
    {
        return nullptr;
    }
}

void ProxySetAllocator(ProxyAllocator allocator) noexcept
{
    g_allocator = allocator;
}
