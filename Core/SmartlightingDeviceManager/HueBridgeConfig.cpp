// The smart-lighting configuration file: a JSON object under a repeating
// XOR, whose "Bridges" array names the bridge to attach. Only the first
// bridge is read; its chosen light group becomes the record's group
// information. The text is UTF-8, as the JSON library reads and writes it,
// so a name outside ASCII reaches the record whole.
#include "HueBridgeConfig.h"

#include <climits>
#include <cstring>
#include <vector>

#include "ConfigNames.h"
#include "ConfigReader.h"
#include "GroupInfo.h"
#include "HueBridgeWalk.h"
#include "LogWriter.h"
#include "RecordText.h"
#include "TextCodec.h"

namespace HueBridge
{
namespace
{

const wchar_t FUNCTION[] = L"CSmartlightingDeviceManager::GetDevicesInfo";

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
// case; 0 when none does. When several match, the last one walked wins.
unsigned SelectedGroupLights(const std::vector<CGroupLights>& groups, const std::wstring& selected)
{
    unsigned lights = 0;
    for (const CGroupLights& group : groups)
    {
        if (Common::EqualsNoCase(TextCodec::Utf8ToWide(group.id), selected))
            lights = group.lights;
    }
    return lights;
}

DWORD StoreFirstBridge(const std::string& text, CRecordTable& discovered)
{
    const CBridgeJson bridge(text);

    CRecord record;
    std::memset(&record, 0, sizeof(record));
    using namespace NetDevice;
    if (!CopyField(record.szId, TextCodec::Utf8ToWide(bridge.Text(HUE_ID)), HUE_ID) ||
        !CopyField(record.szName, TextCodec::Utf8ToWide(bridge.Text(HUE_NAME)), HUE_NAME) ||
        !CopyField(record.szIpAddress, TextCodec::Utf8ToWide(bridge.Text(HUE_IP_ADDRESS)), HUE_IP_ADDRESS))
        return NetDevice::CONFIG_UNUSABLE;
    const std::string selected = bridge.Text(HUE_SELECTED_GROUP);

    const std::wstring selectedWide = TextCodec::Utf8ToWide(selected);
    const unsigned lights = SelectedGroupLights(bridge.Groups(), selectedWide);
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
