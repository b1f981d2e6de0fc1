#include "Scramble.h"

namespace NetDevice
{

DWORD DecodeLengthPrefixedScrambledFile(const char* bytes, size_t size, const char* key, std::string& text,
                                        CLengthField& field) noexcept
{
    switch (DecodeLengthPrefixedText(bytes, size, key, text, field))
    {
    case ELengthDecode::Decoded:
        return ERROR_SUCCESS;
    case ELengthDecode::BadLength:
        return ERROR_BAD_LENGTH;
    case ELengthDecode::NoMemory:
    default:
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

} // namespace NetDevice
