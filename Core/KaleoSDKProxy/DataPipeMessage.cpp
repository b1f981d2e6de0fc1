#include "DataPipeMessage.h"

#include <cstring>

#include "JsonNesting.h"

namespace VxKaleoSDKProxy
{

bool ParseDataPipeMessage(const char* text, size_t length, nlohmann::json& message)
{
    // Bounded by the message: a text without a zero byte is not read past its end.
    const void* zero = std::memchr(text, '\0', length);
    if (zero != nullptr)
        length = static_cast<size_t>(static_cast<const char*>(zero) - text);
    if (!Common::JsonNestingWithin(text, length, MAX_MESSAGE_DEPTH))
        return false;
    message = nlohmann::json::parse(text, text + length);
    return true;
}

} // namespace VxKaleoSDKProxy
