// kaleoctl netdev iot: reading and writing the IoT device list. The file
// may have been written by a hostile test before: its length field and its
// JSON are checked before anything is taken from it.
#include "NetDevIoTList.h"

#include <windows.h>
#include <cstring>
#include <vector>

#include "BoundedFile.h"
#include "Console.h"
#include "ConfigFiles.h"
#include "JsonNesting.h"
#include "NetDevFiles.h"

namespace
{
constexpr DWORD kMaxListBytes = 16u * 1024u * 1024u;
constexpr int kMaxListDepth = 32;
constexpr size_t kLengthFieldBytes = sizeof(int32_t);
static_assert(kLengthFieldBytes == 4, "the length field is 4 bytes");
} // namespace

namespace NetDevIoT
{

std::string EncodeList(const std::string& utf8Text, int32_t lengthField)
{
    std::string text = utf8Text;
    NetDevFiles::Scramble(text, NetDevice::IOT_CONFIG_KEY);
    std::string bytes(kLengthFieldBytes, '\0');
    const uint32_t field = static_cast<uint32_t>(lengthField);
    for (size_t i = 0; i < kLengthFieldBytes; ++i)
        bytes[i] = static_cast<char>((field >> (8 * i)) & 0xFF);
    return bytes + text;
}

int ReadList(const std::wstring& path, nlohmann::json& list)
{
    list = nlohmann::json::array();
    std::vector<char> bytes;
    const DWORD rc = Common::ReadBoundedFile(path, kMaxListBytes, bytes);
    // Missing or empty: no device listed yet.
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_INVALID_DATA)
        return 0;
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev iot: cannot read %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    if (bytes.size() < kLengthFieldBytes)
        return 0;
    int32_t length = 0;
    std::memcpy(&length, bytes.data(), kLengthFieldBytes);
    if (length < 0 || static_cast<size_t>(length) > bytes.size() - kLengthFieldBytes)
    {
        Console::Error(L"netdev iot: %s has a length field of %ld for %lu bytes of text\n", path.c_str(),
                       static_cast<long>(length), static_cast<unsigned long>(bytes.size() - kLengthFieldBytes));
        return 1;
    }
    std::string text(bytes.data() + kLengthFieldBytes, static_cast<size_t>(length));
    NetDevFiles::Scramble(text, NetDevice::IOT_CONFIG_KEY);
    if (text.empty())
        return 0;
    nlohmann::json parsed;
    if (Common::JsonNestingWithin(text.data(), text.size(), kMaxListDepth))
        parsed = nlohmann::json::parse(text, nullptr, false);
    else
        parsed = nlohmann::json::value_t::discarded;
    if (parsed.is_null())
        return 0;
    if (!parsed.is_array())
    {
        Console::Error(L"netdev iot: %s holds no JSON array of devices\n", path.c_str());
        return 1;
    }
    list = std::move(parsed);
    return 0;
}

int WriteList(const std::wstring& path, const nlohmann::json& list)
{
    const std::string text = list.dump();
    const DWORD rc = NetDevFiles::WriteFileReplacing(path, EncodeList(text, static_cast<int32_t>(text.size())));
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev iot: cannot write %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    return 0;
}

} // namespace NetDevIoT
