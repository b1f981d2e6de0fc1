#pragma once
// Logs a decoded configuration text as "%s | %s" lines of at most 200
// bytes each (the last piece holds the rest), each converted from UTF-8,
// the encoding of the files.
#include <string>

namespace NetDevice
{

constexpr size_t CONTENT_LOG_PIECE_BYTES = 200;

void LogContentPieces(const wchar_t* function, const std::string& text) noexcept;

} // namespace NetDevice
