#pragma once
// Every step of the host is reported twice: into the shared log file through
// the log writer, and as one line on standard output for whoever watches
// the console (or the file standard output was redirected to).
#include <windows.h>
#include "LogWriter.h"

namespace Host
{

// Wide printf format, %s takes a wide string. Safe from any thread.
void Report(unsigned level, const wchar_t* sourceFile, int line, const wchar_t* format, ...);
// One line on standard output only.
void PrintLine(const wchar_t* text);

} // namespace Host

#define HOST_REPORT(level, ...) ::Host::Report((level), KALEO_WIDEN(__FILE__), __LINE__, __VA_ARGS__)
