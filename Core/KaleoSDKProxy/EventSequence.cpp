#include "EventSequence.h"

namespace VxKaleoSDKProxy
{
namespace
{

// Truncated toward zero like an integer read of the value; NaN and values
// beyond the 64-bit range, which have no such reading, give 0.
uint32_t FloatSequenceBits(double value) noexcept
{
    constexpr double limit = 9.2e18;
    if (!(value > -limit && value < limit))
        return 0;
    return static_cast<uint32_t>(static_cast<std::int64_t>(value));
}

} // namespace

uint32_t SequenceBits(const nlohmann::json& message)
{
    const auto found = message.find("linkDeviceSeqId");
    if (found == message.end())
        return 0;
    if (found->is_number_unsigned())
        return static_cast<uint32_t>(found->get<std::uint64_t>());
    if (found->is_number_float())
        return FloatSequenceBits(found->get<double>());
    if (found->is_boolean())
        return found->get<bool>() ? 1 : 0;
    return static_cast<uint32_t>(found->get<std::int64_t>());
}

} // namespace VxKaleoSDKProxy
