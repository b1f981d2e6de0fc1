#pragma once
// Appends lines to the journal in the install folder. Copies of the
// plug-in in several processes append to the same file, so each line goes
// out in one write on a handle opened for appending with full sharing.
#include <windows.h>
#include <string>

namespace PluginJournal
{

// 0, or the error of the open or the write. A journal held without
// sharing by someone else is retried for a short while.
DWORD AppendJournalLine(const std::wstring& installPath, const std::string& line) noexcept;

} // namespace PluginJournal
