#pragma once
// The byte form of the scrambled configuration files, both directions: the
// repeating-key XOR and the 32-bit length field of the length-prefixed form
// (ScrambleBytes.h), with the Win32 status codes of a decode. The device
// managers read with it and the tools and tests write with it, so the two
// sides cannot drift apart.
#include <windows.h>
#include <cstddef>
#include <string>

#include "ScrambleBytes.h"

namespace NetDevice
{

// The text of a length-prefixed file held in memory; bytes after it are
// ignored. 0 with the text (empty for a length of 0 or fewer bytes than the
// field); ERROR_BAD_LENGTH when the field does not fit (see
// LengthFieldFits); ERROR_NOT_ENOUGH_MEMORY. `text` is empty unless 0.
DWORD DecodeLengthPrefixedScrambledFile(const char* bytes, size_t size, const char* key, std::string& text,
                                        CLengthField& field) noexcept;

} // namespace NetDevice
