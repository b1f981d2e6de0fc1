#pragma once
// The byte work of the scrambled configuration files, free of any system
// header: the repeating-key XOR, the 32-bit length field and the decode of
// a length-prefixed file held in memory. Scramble.h adds the Win32 status
// codes; this part is also built natively, where the fuzzers run it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace NetDevice
{

// Largest configuration file read; anything larger is refused unread.
constexpr uint32_t CONFIG_MAX_BYTES = 16u * 1024u * 1024u;
// The length field: a signed little-endian 32-bit byte count.
constexpr size_t LENGTH_FIELD_BYTES = sizeof(int32_t);
static_assert(LENGTH_FIELD_BYTES == 4, "the length field is 4 bytes");

// Every byte XOR key[i mod key length], in place; XOR is its own inverse, so
// this also unscrambles. A null or empty key leaves the bytes as they are.
void Scramble(std::string& bytes, const char* key) noexcept;

// The length field's four bytes, and the value they hold.
std::string EncodeLengthField(int32_t declared);
int32_t DecodeLengthField(const unsigned char (&bytes)[LENGTH_FIELD_BYTES]) noexcept;

// What the length field of a length-prefixed file said, and how many bytes
// followed it, for the caller's log line when they do not agree.
struct CLengthField
{
    int32_t declared = 0;
    unsigned long long following = 0;
};

// The field may be believed: not negative, at most CONFIG_MAX_BYTES and no
// more than the bytes that follow it. Checked before anything is allocated.
bool LengthFieldFits(const CLengthField& field) noexcept;

// Whole-file form: the scrambled text.
std::string MakeScrambledFile(const std::string& text, const char* key);
// Length-prefixed form: the text's length, then the scrambled text.
std::string MakeLengthPrefixedScrambledFile(const std::string& text, const char* key);

enum class ELengthDecode
{
    Decoded,   // the text (empty for a length of 0 or fewer bytes than the field)
    BadLength, // the field does not fit (see LengthFieldFits)
    NoMemory,
};

// The text of a length-prefixed file held in memory; bytes after it are
// ignored. `text` is empty unless Decoded.
ELengthDecode DecodeLengthPrefixedText(const char* bytes, size_t size, const char* key, std::string& text,
                                       CLengthField& field) noexcept;

} // namespace NetDevice
