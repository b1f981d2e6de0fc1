#pragma once
// The global effect the app manager publishes to the device side, as it
// travels in every effect record.
#include <cstdint>

namespace Common
{
// Global effect published to the device side.
using _EFFECTYPE = uint32_t;

constexpr _EFFECTYPE EFFECT_HEADSET_LAST_APP = 10;
constexpr _EFFECTYPE EFFECT_RELEASED_ALT = 11;
constexpr _EFFECTYPE EFFECT_RELEASED = 13;
constexpr _EFFECTYPE EFFECT_OWNED_A = 14;
constexpr _EFFECTYPE EFFECT_OWNED_B = 16;
} // namespace Common
