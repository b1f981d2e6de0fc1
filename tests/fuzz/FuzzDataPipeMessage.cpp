// One message read from a device's data pipe, as the reader thread serves
// it (CKaleoSDKNative::ServeMessage and ProcessData): the nesting guard,
// the parse, the device handle stamped in, the sequence id of a lighting
// event and the serialisation that queues or pushes it.
#include <cstdint>
#include <string>

#include "DataPipeMessage.h"
#include "DeviceHandleMember.h"
#include "EventSequence.h"
#include "FuzzSupport.h"
#include "JsonNesting.h"

using nlohmann::json;

namespace
{

// The reader's buffer: a message that fills it is dropped unread.
constexpr size_t PIPE_BUFFER_BYTES = 8192;

void Serve(const char* text, size_t length)
{
    json message;
    if (!VxKaleoSDKProxy::ParseDataPipeMessage(text, length, message))
        return;
    // What the guard let through cannot recurse deeper than it allows.
    FUZZ_CHECK(KaleoFuzz::Depth(message, VxKaleoSDKProxy::MAX_MESSAGE_DEPTH) <= VxKaleoSDKProxy::MAX_MESSAGE_DEPTH);
    message[DEVICE_HANDLE_MEMBER] = -5;
    std::string dump = message.dump();
    const auto eventId = message.find("eventId");
    if (eventId == message.end() || eventId->is_null())
        return;
    if (*eventId == 2)
    {
        static_cast<void>(VxKaleoSDKProxy::SequenceBits(message));
        dump = message.dump();
    }
    // The dump is valid JSON that reads back as the same value.
    FUZZ_CHECK(json::parse(dump) == message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= PIPE_BUFFER_BYTES)
        return 0;
    // libFuzzer's buffer is exactly the message: a read past its end is caught.
    try
    {
        Serve(reinterpret_cast<const char*>(data), size);
    }
    catch (const json::exception&)
    {
        // Malformed, not an object, a member of the wrong type: dropped.
    }
    return 0;
}
