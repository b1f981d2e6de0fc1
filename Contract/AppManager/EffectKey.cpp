#include "EffectKey.h"

namespace Effects
{

void ScrambleRecord(void* record, size_t size, const CByteRange* ranges, size_t rangeCount,
                    uint64_t tickCount) noexcept
{
    if (!record || !ranges)
        return;
    uint8_t* bytes = static_cast<uint8_t*>(record);
    const uint32_t mask = KeyMask(tickCount);
    for (size_t i = 0; i < rangeCount; ++i)
    {
        const size_t first = ranges[i].first;
        const size_t end = static_cast<size_t>(ranges[i].last) + 1;
        for (size_t offset = first; offset + 4 <= end && offset + 4 <= size; offset += 4)
        {
            uint32_t word;
            std::memcpy(&word, bytes + offset, sizeof(word));
            word ^= mask;
            std::memcpy(bytes + offset, &word, sizeof(word));
        }
    }
}

} // namespace Effects
