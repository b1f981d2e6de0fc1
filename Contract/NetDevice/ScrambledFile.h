#pragma once
// Readers of the scrambled configuration files other SDK processes write:
// JSON under a repeating-key XOR, either the whole file or a text behind a
// 32-bit length field. Files come from another process: sizes are bounded
// and a hostile length never leads to a large allocation.
#include <windows.h>
#include <string>

#include "Scramble.h"

namespace NetDevice
{

// Whole-file form: every byte scrambled (see Scramble.h). 0 with the text
// (empty for an empty file); ERROR_FILE_TOO_LARGE above CONFIG_MAX_BYTES;
// ERROR_NOT_ENOUGH_MEMORY; the open or read error otherwise. `text` is empty unless 0.
DWORD ReadScrambledFile(const char* key, const std::wstring& path, std::string& text) noexcept;

// Length-prefixed form: a signed little-endian 32-bit length N, then N
// scrambled bytes; bytes after them are ignored. 0 with the text (empty
// for N = 0); ERROR_BAD_LENGTH when N is negative, above CONFIG_MAX_BYTES
// or larger than the bytes that follow (checked before anything is
// allocated); ERROR_NOT_ENOUGH_MEMORY; the open or read error otherwise (a
// file shorter than the length field reads as N = 0). `text` is empty
// unless 0.
DWORD ReadLengthPrefixedScrambledFile(const char* key, const std::wstring& path, std::string& text,
                                      CLengthField& field) noexcept;

} // namespace NetDevice
