#pragma once
// The texts the device-side stand-in writes into a data pipe: lighting
// events, the special messages that test the reader's rules, and messages
// taken from the command line or a file. All are 8-bit (UTF-8) texts.
#include <windows.h>
#include <string>
#include <vector>

namespace PipeCmd
{

// The longest message the reader takes: its buffer is 8192 bytes and keeps
// one for a terminator.
constexpr size_t READER_MAX_MESSAGE = 8191;
// The longest message this tool writes (oversized ones included).
constexpr size_t MAX_MESSAGE_BYTES = 1u << 20;
// The largest message file read.
constexpr DWORD MAX_FILE_BYTES = 16u << 20;

// {"eventId":2,"linkDeviceSeqId":<seqId>,"seq":<seq>,"ts":<ts>}, with a
// "pad" member that makes it exactly `size` bytes when `size` leaves room
// for one; otherwise as short as it is.
std::string LightingEvent(DWORD seqId, ULONGLONG seq, LONGLONG ts, size_t size);

// {"eventId":2,"linkDeviceSeqId":0,"pad":"xx..."}, exactly `bytes` long.
// Empty when `bytes` is below OVERSIZED_MIN_BYTES.
std::string OversizedEvent(size_t bytes);
constexpr size_t OVERSIZED_MIN_BYTES = 42;

// A lighting event cut short: not JSON.
std::string MalformedMessage();
// Valid JSON without "eventId": the reader does not forward it.
std::string NoEventIdMessage();

// One message per non-empty line of a file (LF or CRLF; a UTF-8 BOM is
// skipped). 0, ERROR_FILE_TOO_LARGE for a file above MAX_FILE_BYTES or a
// line above MAX_MESSAGE_BYTES, ERROR_NO_DATA when it holds no message, or
// the read's error.
DWORD ReadMessageFile(const std::wstring& path, std::vector<std::string>& messages);

} // namespace PipeCmd
