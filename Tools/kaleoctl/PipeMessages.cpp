// The texts the device-side stand-in writes; see PipeMessages.h.
#include "PipeMessages.h"

#include <cstdio>

#include "BoundedFile.h"

namespace PipeCmd
{
namespace
{

constexpr char kPadOpen[] = ",\"pad\":\"";
constexpr char kPadClose[] = "\"}";
constexpr size_t kPadOverhead = sizeof(kPadOpen) - 1 + sizeof(kPadClose) - 1;
constexpr char kOversizedHead[] = "{\"eventId\":2,\"linkDeviceSeqId\":0";
static_assert(sizeof(kOversizedHead) - 1 + kPadOverhead == OVERSIZED_MIN_BYTES,
              "the smallest oversized event is its head and an empty pad");

// Closes the object begun in `head`, padded to exactly `size` bytes when
// the pad member fits.
std::string CloseObject(std::string head, size_t size)
{
    if (size < head.size() + kPadOverhead)
        return head + "}";
    const size_t padding = size - head.size() - kPadOverhead;
    head.reserve(size);
    head += kPadOpen;
    head.append(padding, 'x');
    head += kPadClose;
    return head;
}

} // namespace

std::string LightingEvent(DWORD seqId, ULONGLONG seq, LONGLONG ts, size_t size)
{
    char head[128];
    const int n = std::snprintf(head, sizeof(head), "{\"eventId\":2,\"linkDeviceSeqId\":%lu,\"seq\":%llu,\"ts\":%lld",
                                static_cast<unsigned long>(seqId), static_cast<unsigned long long>(seq),
                                static_cast<long long>(ts));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(head))
        return std::string();
    return CloseObject(std::string(head, static_cast<size_t>(n)), size);
}

std::string OversizedEvent(size_t bytes)
{
    if (bytes < OVERSIZED_MIN_BYTES)
        return std::string();
    return CloseObject(kOversizedHead, bytes);
}

std::string MalformedMessage()
{
    return "{\"eventId\":2,\"linkDeviceSeqId\":";
}

std::string NoEventIdMessage()
{
    return "{\"linkDeviceSeqId\":0,\"note\":\"no eventId\"}";
}

DWORD ReadMessageFile(const std::wstring& path, std::vector<std::string>& messages)
{
    std::vector<char> bytes;
    const DWORD status = Common::ReadBoundedFile(path, MAX_FILE_BYTES, bytes);
    if (status != ERROR_SUCCESS)
        return status == ERROR_INVALID_DATA ? ERROR_NO_DATA : status;
    size_t at = 0;
    if (bytes.size() >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' && bytes[2] == '\xBF')
        at = 3;
    std::vector<std::string> lines;
    while (at < bytes.size())
    {
        size_t end = at;
        while (end < bytes.size() && bytes[end] != '\n')
            ++end;
        size_t last = end;
        if (last > at && bytes[last - 1] == '\r')
            --last;
        if (last - at > MAX_MESSAGE_BYTES)
            return ERROR_FILE_TOO_LARGE;
        if (last > at)
            lines.emplace_back(bytes.data() + at, last - at);
        at = end + 1;
    }
    if (lines.empty())
        return ERROR_NO_DATA;
    messages.swap(lines);
    return ERROR_SUCCESS;
}

} // namespace PipeCmd
