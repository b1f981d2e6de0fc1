#pragma once
// The parse of one message read from a device's data pipe, free of any
// system header so that it is also built natively, where the fuzzers run it.
#include <cstddef>
#include <nlohmann/json.hpp>

namespace VxKaleoSDKProxy
{

// Deeper messages are dropped: serialising them recurses once per level.
constexpr int MAX_MESSAGE_DEPTH = 256;

// The text ends at the message end or at its first zero byte. False, with
// `message` untouched, when it is nested deeper than MAX_MESSAGE_DEPTH;
// throws the JSON library's parse error for a text that is not JSON (not
// valid UTF-8 included).
bool ParseDataPipeMessage(const char* text, size_t length, nlohmann::json& message);

} // namespace VxKaleoSDKProxy
