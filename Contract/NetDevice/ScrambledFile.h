#pragma once
// Readers of the scrambled configuration files other SDK processes write:
// JSON under a repeating-key XOR, either the whole file or a text behind a
// 32-bit length field. Files come from another process: sizes are bounded
// and a hostile length never leads to a large allocation.
#include <windows.h>
#include <cstdint>
#include <string>

namespace NetDevice
{

// Largest configuration file read; anything larger is refused unread.
constexpr DWORD CONFIG_MAX_BYTES = 16u * 1024u * 1024u;

// Whole-file form: every byte XOR key[i mod key length] (an empty key
// leaves the bytes as they are). 0 with the text (empty for an empty
// file); ERROR_FILE_TOO_LARGE above CONFIG_MAX_BYTES; ERROR_NOT_ENOUGH_MEMORY;
// the open or read error otherwise. `text` is empty unless 0.
DWORD ReadScrambledFile(const std::string& key, const std::wstring& path, std::string& text) noexcept;

// What the length field of a length-prefixed file said, and how many bytes
// followed it, for the caller's log line when they do not agree.
struct CLengthField
{
    int32_t declared = 0;
    ULONGLONG following = 0;
};

// Length-prefixed form: a signed little-endian 32-bit length N, then N
// scrambled bytes; bytes after them are ignored. 0 with the text (empty
// for N = 0); ERROR_BAD_LENGTH when N is negative, above CONFIG_MAX_BYTES
// or larger than the bytes that follow (checked before anything is
// allocated); ERROR_NOT_ENOUGH_MEMORY; the open or read error otherwise (a
// file shorter than the length field reads as N = 0). `text` is empty
// unless 0.
DWORD ReadLengthPrefixedScrambledFile(const std::string& key, const std::wstring& path, std::string& text,
                                      CLengthField& field) noexcept;

} // namespace NetDevice
