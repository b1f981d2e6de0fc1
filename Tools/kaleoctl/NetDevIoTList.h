#pragma once
// The IoT device list file as the device finder writes it: a signed 32-bit
// little-endian length N, then N bytes of JSON (an array of device objects)
// under the IoT module's XOR key; bytes after them are ignored.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace NetDevIoT
{

// The file's bytes for a UTF-8 text behind the given length field.
std::string EncodeList(const std::string& utf8Text, int32_t lengthField);

// The list of the file: an empty array for a missing or empty file. 0, or
// 1 after saying why (bad length field, not a JSON array).
int ReadList(const std::wstring& path, nlohmann::json& list);

// Writes the list, replacing the file. 0, or 1 after saying why.
int WriteList(const std::wstring& path, const nlohmann::json& list);

} // namespace NetDevIoT
