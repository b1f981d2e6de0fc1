#pragma once
// Bounded composition of a reply's readable text.
#include "HostProtocol.h"

namespace Host
{

// Appends a formatted piece (wide printf format, %s = wide string); what does
// not fit is cut, and the text stays terminated.
void AppendReplyText(_HOSTREPLY& reply, const wchar_t* format, ...);

} // namespace Host
