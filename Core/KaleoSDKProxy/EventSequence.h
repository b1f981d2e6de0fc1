#pragma once
// The sequence id of a lighting event, as the queues key it; free of any
// system header so that it is also built natively, where the fuzzers run it.
#include <cstdint>
#include <nlohmann/json.hpp>

namespace VxKaleoSDKProxy
{

// The low 32 bits of "linkDeviceSeqId", 0 when the member is missing.
// Integers, booleans and floating values are read as numbers (a floating
// value truncated toward zero; NaN and values beyond the 64-bit range give
// 0); any other type raises the JSON library's type error.
uint32_t SequenceBits(const nlohmann::json& message);

} // namespace VxKaleoSDKProxy
