// Bounded composition of a reply's readable text; see ReplyText.h.
#include "ReplyText.h"

#include <cstdarg>
#include <cwchar>

namespace Host
{

void AppendReplyText(_HOSTREPLY& reply, const wchar_t* format, ...)
{
    reply.text[kHostReplyTextChars - 1] = L'\0';
    const size_t used = ::wcslen(reply.text);
    const size_t room = kHostReplyTextChars - 1 - used;  // characters, without the terminator
    if (room == 0)
        return;
    wchar_t* tail = reply.text + used;
    va_list args;
    va_start(args, format);
    // On overflow msvcrt leaves the piece unterminated; the last slot of the
    // buffer holds the terminator either way.
    ::_vsnwprintf(tail, room, format, args);
    va_end(args);
    reply.text[kHostReplyTextChars - 1] = L'\0';
}

} // namespace Host
