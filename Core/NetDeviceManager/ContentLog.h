#pragma once
// Logs a decoded configuration text as "%s | %s" lines of at most 200
// bytes each (the last piece holds the rest), each converted from UTF-8,
// the encoding of the files. Only the first CONTENT_LOG_MAX_BYTES are
// logged, then one line says how many more there were: a file may hold up
// to 16 MiB, and every line is flushed to the host's shared log.
#include <string>

namespace NetDevice
{

constexpr size_t CONTENT_LOG_PIECE_BYTES = 200;
constexpr size_t CONTENT_LOG_MAX_BYTES = 64 * 1024;

void LogContentPieces(const wchar_t* function, const std::string& text) noexcept;

} // namespace NetDevice
