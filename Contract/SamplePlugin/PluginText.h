#pragma once
// The lines of the plug-in files (their texts are UTF-8: TextCodec's
// lenient conversions read and write them).
#include <string>
#include <vector>

namespace PluginText
{

// The lines of a text file: split at LF, a CR before it dropped, a leading
// UTF-8 byte-order mark dropped; a last line without LF counts too.
std::vector<std::string> SplitLines(const std::string& text);

} // namespace PluginText
