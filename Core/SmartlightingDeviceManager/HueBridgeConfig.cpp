// The smart-lighting configuration file: a JSON object under a repeating
// XOR, whose "Bridges" array names the bridge to attach. Only the first
// bridge is read; its chosen light group becomes the record's group
// information. The text is UTF-8, as the JSON library reads and writes it,
// so a name outside ASCII reaches the record whole.
#include "HueBridgeConfig.h"

#include <climits>
#include <cstring>
#include <nlohmann/json.hpp>

#include "ConfigNames.h"
#include "ConfigReader.h"
#include "GroupInfo.h"
#include "LogWriter.h"
#include "RecordText.h"
#include "TextCodec.h"

using nlohmann::json;

namespace HueBridge
{
namespace
{

const wchar_t FUNCTION[] = L"CSmartlightingDeviceManager::GetDevicesInfo";

// A string member converted from UTF-8 to UTF-16; the library's error when
// it is missing or not a string.
std::wstring StringMember(const json& object, const char* name)
{
    return TextCodec::Utf8ToWide(object.at(name).get<std::string>());
}

// Values are refused rather than cut: a cut id or address would name
// another bridge.
bool CopyField(wchar_t (&field)[Common::DEVICE_TEXT_CHARS], const std::wstring& text, const char* what) noexcept
{
    if (NetDevice::CopyRecordText(field, text))
        return true;
    KLOG(Common::LOG_ERROR, L"%s | %hs is 260 characters or longer: bridge refused", FUNCTION, what);
    return false;
}

// The light count of the group whose "Id" equals the selected one, ignoring
// case; 0 when none does. Groups come as object members, walked in the
// library's byte order of their names, or as array elements; when several
// match, the last one walked wins. Every group must be an object with a
// string "Id" (the library's error otherwise); "Groups" absent or null
// holds no group.
unsigned SelectedGroupLights(const json& groups, const std::wstring& selected)
{
    const json* chosen = nullptr;
    for (const json& group : groups)
    {
        if (Common::EqualsNoCase(StringMember(group, NetDevice::HUE_ID), selected))
            chosen = &group;
    }
    if (chosen == nullptr)
        return 0;
    // An array counts its elements, an object its members, a single value
    // one, and null nothing.
    const auto lights = chosen->find(NetDevice::HUE_LIGHTS);
    return lights == chosen->end() ? 0 : static_cast<unsigned>(lights->size());
}

DWORD StoreFirstBridge(const std::string& text, CRecordTable& discovered)
{
    const json root = json::parse(text);
    const json& bridge = root.at(NetDevice::HUE_BRIDGES).at(0);

    CRecord record;
    std::memset(&record, 0, sizeof(record));
    using namespace NetDevice;
    if (!CopyField(record.szId, StringMember(bridge, HUE_ID), HUE_ID) ||
        !CopyField(record.szName, StringMember(bridge, HUE_NAME), HUE_NAME) ||
        !CopyField(record.szIpAddress, StringMember(bridge, HUE_IP_ADDRESS), HUE_IP_ADDRESS))
        return NetDevice::CONFIG_UNUSABLE;
    const std::string selected = bridge.at(HUE_SELECTED_GROUP).get<std::string>();

    const auto groups = bridge.find(HUE_GROUPS);
    const unsigned lights =
        groups == bridge.end() ? 0 : SelectedGroupLights(*groups, TextCodec::Utf8ToWide(selected));
    if (!CopyField(record.szGroupInfo, MakeGroupInfo(lights, selected), "group information"))
        return NetDevice::CONFIG_UNUSABLE;
    record.pid = HUE_BRIDGE_PID;

    if (record.szId[0] == L'\0')
    {
        KLOG(Common::LOG_ERROR, L"%s | Internal Error", FUNCTION);
        return ERROR_SUCCESS;
    }
    discovered[static_cast<int32_t>(discovered.size())] = record;
    return ERROR_SUCCESS;
}

} // namespace

DWORD ReadBridgeConfiguration(const std::wstring& path, DWORD debug, CRecordTable& discovered) noexcept
{
    const NetDevice::CConfigFile file = {FUNCTION, CONFIG_KEY, NetDevice::CScrambleForm::WholeFile, L".json",
                                         debug == 1};
    return NetDevice::ReadConfigFile(
        file, path, [&discovered](const std::string& text) { return StoreFirstBridge(text, discovered); });
}

} // namespace HueBridge
