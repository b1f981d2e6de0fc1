// A request to the proxy as Invoke and the action entry read it
// (ProxyRequests.cpp, RequestHandlers.cpp): the nesting guard and the
// parse, "func", the members of "AddDevice" and "SetDeviceState", the
// action entry's numbers and a forwarded "message" unquoted and read again
// as a request of its own.
#include <cstdint>
#include <string>

#include "DeviceHandleMember.h"
#include "FuzzSupport.h"
#include "JsonInt.h"
#include "JsonNesting.h"
#include "RequestFields.h"

using nlohmann::json;
using namespace VxKaleoSDKProxy;

namespace
{

// The device sources' product ids (DeviceSources.h).
EDeviceKind KindOf(int pid)
{
    if (pid == 770 || pid == 818)
        return EDeviceKind::Broadcast;
    return pid == 769 ? EDeviceKind::PhilipsHue : EDeviceKind::Hid;
}

bool Parse(const std::string& text, json& request)
{
    if (!Common::JsonNestingWithin(text.data(), text.size(), KaleoFuzz::MAX_NESTING))
        return false;
    request = json::parse(text);
    FUZZ_CHECK(KaleoFuzz::Depth(request, KaleoFuzz::MAX_NESTING) <= KaleoFuzz::MAX_NESTING);
    return true;
}

// Each reader gets its own copy, as each handler does; a type error ends
// only that one.
template <typename TRead>
void Try(const json& request, TRead&& read)
{
    json copy = request;
    try
    {
        read(copy);
    }
    catch (const json::exception&)
    {
    }
}

void Invoke(const json& request)
{
    Try(request, [](json& r) { static_cast<void>(r["func"] == "AddDevice"); });
    Try(request, [](json& r) {
        const CAddDeviceParams params = ReadAddDeviceParams(r, &KindOf);
        if (params.nullMember == EAddDeviceNull::None && params.kind != EDeviceKind::Hid)
            FUZZ_CHECK(params.containerId.empty());
    });
    Try(request, [](json& r) {
        const CDeviceStateParams params = ReadDeviceStateParams(r);
        FUZZ_CHECK(params.hasEnable || !params.hasDeviceHandle);
    });
}

void Action(const json& request)
{
    Try(request, [](json& r) {
        static_cast<void>(JsonInt(r["Action"]));
        static_cast<void>(JsonInt(r["pid"]));
        static_cast<void>(JsonInt(r[DEVICE_HANDLE_MEMBER]));
    });
    Try(request, [](json& r) {
        const std::string forwarded = UnquoteForwarded(r["message"]);
        json inner;
        if (Parse(forwarded, inner))
            Invoke(inner);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    try
    {
        json request;
        if (!Parse(text, request))
            return 0;
        Invoke(request);
        Action(request);
    }
    catch (const json::exception&)
    {
        // Unreadable: ERROR_BAD_FORMAT, or the action entry's E_FAIL status.
    }
    return 0;
}
