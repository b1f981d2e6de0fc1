#include "ScrambleBytes.h"

#include <cstring>
#include <exception>

namespace NetDevice
{

void Scramble(std::string& bytes, const char* key) noexcept
{
    const size_t keyLength = key ? std::strlen(key) : 0;
    if (keyLength == 0)
        return;
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % keyLength]);
}

std::string EncodeLengthField(int32_t declared)
{
    const uint32_t value = static_cast<uint32_t>(declared);
    std::string bytes(LENGTH_FIELD_BYTES, '\0');
    for (size_t i = 0; i < LENGTH_FIELD_BYTES; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

int32_t DecodeLengthField(const unsigned char (&bytes)[LENGTH_FIELD_BYTES]) noexcept
{
    const uint32_t value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return static_cast<int32_t>(value);
}

bool LengthFieldFits(const CLengthField& field) noexcept
{
    // The field is the other process's word, the size that follows is the fact.
    return field.declared >= 0 && static_cast<uint32_t>(field.declared) <= CONFIG_MAX_BYTES &&
           static_cast<unsigned long long>(field.declared) <= field.following;
}

std::string MakeScrambledFile(const std::string& text, const char* key)
{
    std::string bytes = text;
    Scramble(bytes, key);
    return bytes;
}

std::string MakeLengthPrefixedScrambledFile(const std::string& text, const char* key)
{
    return EncodeLengthField(static_cast<int32_t>(text.size())) + MakeScrambledFile(text, key);
}

ELengthDecode DecodeLengthPrefixedText(const char* bytes, size_t size, const char* key, std::string& text,
                                       CLengthField& field) noexcept
{
    text.clear();
    field = CLengthField();
    if (bytes == nullptr || size < LENGTH_FIELD_BYTES)
        return ELengthDecode::Decoded;  // no whole length field: nothing to read
    unsigned char lengthBytes[LENGTH_FIELD_BYTES] = {};
    std::memcpy(lengthBytes, bytes, sizeof(lengthBytes));
    field.declared = DecodeLengthField(lengthBytes);
    field.following = size - LENGTH_FIELD_BYTES;
    if (!LengthFieldFits(field))
        return ELengthDecode::BadLength;
    try
    {
        text.assign(bytes + LENGTH_FIELD_BYTES, static_cast<size_t>(field.declared));
    }
    catch (const std::exception&)  // only the text's allocation can fail
    {
        text.clear();
        return ELengthDecode::NoMemory;
    }
    Scramble(text, key);
    return ELengthDecode::Decoded;
}

} // namespace NetDevice
