#pragma once
// A cheap guard run before a JSON text from another process is parsed:
// the parser copes with any depth, but printing or walking a value
// recurses once per level, so texts nested deeper than a caller's limit
// are refused up front.
#include <cstddef>

namespace Common
{

// True when no object or array of the text lies deeper than `limit`
// levels. Strings (with their escapes) are skipped; the text need not be
// valid JSON.
bool JsonNestingWithin(const char* text, size_t length, int limit) noexcept;

} // namespace Common
