#pragma once
// The parts of a file path. Either separator counts, "\\" or "/".
#include <string>

namespace Common
{

// The text after the last separator; the whole path when it has none, empty
// when it ends in one.
std::wstring FileNamePart(const std::wstring& path);

// The text before the last separator (without it); empty when the path has
// none.
std::wstring FolderPart(const std::wstring& path);

} // namespace Common
