#pragma once
// What several kaleoctl views do with folders and texts they read: list the
// files of a pattern, and cut a text into lines.
#include <windows.h>
#include <string>
#include <vector>

namespace FileText
{

// Names of the files (not folders) matching `pattern` ("folder\\*.log"),
// in the order the file system gives them, at most `most`.
std::vector<std::wstring> FilesMatching(const std::wstring& pattern, size_t most);

// The lines of `text`, without their "\r\n" or "\n" ends.
std::vector<std::wstring> Lines(const std::wstring& text);

} // namespace FileText
