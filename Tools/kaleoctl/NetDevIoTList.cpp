// kaleoctl netdev iot: reading and writing the IoT device list. The file
// may have been written by a hostile test before: its length field and its
// JSON are checked before anything is taken from it.
#include "NetDevIoTList.h"

#include <windows.h>
#include <vector>

#include "BoundedFile.h"
#include "Console.h"
#include "ConfigFiles.h"
#include "JsonNesting.h"
#include "NetDevFiles.h"
#include "Scramble.h"

namespace
{
constexpr int kMaxListDepth = 32;
} // namespace

namespace NetDevIoT
{

std::string EncodeList(const std::string& utf8Text, int32_t lengthField)
{
    return NetDevice::EncodeLengthField(lengthField) +
           NetDevice::MakeScrambledFile(utf8Text, NetDevice::IOT_CONFIG_KEY);
}

int ReadList(const std::wstring& path, nlohmann::json& list)
{
    list = nlohmann::json::array();
    std::vector<char> bytes;
    const DWORD rc = Common::ReadBoundedFile(path, NetDevice::CONFIG_MAX_BYTES, bytes);
    // Missing or empty: no device listed yet.
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_INVALID_DATA)
        return 0;
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev iot: cannot read %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    std::string text;
    NetDevice::CLengthField field;
    const DWORD decoded = NetDevice::DecodeLengthPrefixedScrambledFile(bytes.data(), bytes.size(),
                                                                       NetDevice::IOT_CONFIG_KEY, text, field);
    if (decoded == ERROR_BAD_LENGTH)
    {
        Console::Error(L"netdev iot: %s has a length field of %ld for %lu bytes of text\n", path.c_str(),
                       static_cast<long>(field.declared), static_cast<unsigned long>(field.following));
        return 1;
    }
    if (decoded != ERROR_SUCCESS)
    {
        Console::Error(L"netdev iot: cannot read %s (%lu)\n", path.c_str(), decoded);
        return 1;
    }
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
