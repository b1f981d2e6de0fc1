#include "SmartlightingDeviceManager.h"

#include <string>

#include "GroupInfo.h"
#include "HueModuleName.h"
#include "LogWriter.h"
#include "NetDeviceNames.h"
#include "RecordText.h"
#include "Registry.h"
#include "TextCodec.h"

namespace
{

const CNetModuleSettings kSettings = {
    L"CSmartlightingDeviceManager",
    L"CSmartlightingDeviceManager::DoPhilipsHue",
    NetDevice::SMARTLIGHTING_SETTINGS_KEY,
    NetDevice::SMARTLIGHTING_COMMAND_EVENT,
    1000,
    true,
};

// The module name takes the identifier's characters up to the 12th.
constexpr size_t MIN_BRIDGE_ID_CHARS = 12;

using Common::EqualsNoCase;

bool SameBridge(const Common::SmartLighting::_DEVICEINFOTYPE& a,
                const Common::SmartLighting::_DEVICEINFOTYPE& b) noexcept
{
    return EqualsNoCase(a.szId, b.szId) && EqualsNoCase(a.szName, b.szName) && EqualsNoCase(a.szIpAddress, b.szIpAddress);
}

// The "SelectedGroup" and "LightChannels" texts of a record's group
// information; false with the JSON library's message in `error`.
struct CGroupTexts
{
    std::wstring group;
    std::wstring channels;
};

bool ReadGroupTexts(const Common::SmartLighting::_DEVICEINFOTYPE& record, CGroupTexts& out, std::wstring& error)
{
    return HueBridge::TryGetJsonFieldText(L"SelectedGroup", record.szGroupInfo, out.group, error) &&
           HueBridge::TryGetJsonFieldText(L"LightChannels", record.szGroupInfo, out.channels, error);
}

} // namespace

CSmartlightingDeviceManager::CSmartlightingDeviceManager() noexcept : CNetDeviceManager(kSettings) {}

// A started manager is destroyed only inside DLL_PROCESS_DETACH, where it
// must not stop as UnInit does: see the frame's destructor.
CSmartlightingDeviceManager::~CSmartlightingDeviceManager() = default;

void CSmartlightingDeviceManager::OnStart() noexcept
{
    DWORD debug = 0;
    if (Common::RegGetDword(NetDevice::SMARTLIGHTING_SETTINGS_KEY, NetDevice::DEBUG_VALUE, debug) == ERROR_SUCCESS)
        m_debug = debug;
}

DWORD CSmartlightingDeviceManager::GetDevicesInfo(const std::wstring& path)
{
    return HueBridge::ReadBridgeConfiguration(path, m_debug, m_discovered);
}

bool CSmartlightingDeviceManager::TakesPart(const CRecord& record) const noexcept
{
    return record.pid == HueBridge::HUE_BRIDGE_PID;
}

// True when two records of one bridge have equal group and channel texts;
// a difference is logged when asked, and a record whose texts cannot be
// read counts as different, with the reason logged.
bool CSmartlightingDeviceManager::CompareGroups(const wchar_t* function, const CRecord& connected,
                                                const CRecord& discovered, bool logDifference) noexcept
{
    try
    {
        CGroupTexts c, d;
        std::wstring error;
        if (!ReadGroupTexts(connected, c, error) || !ReadGroupTexts(discovered, d, error))
        {
            KLOG(Common::LOG_ERROR, L"%s | %s", function, error.c_str());
            return false;
        }
        if (EqualsNoCase(c.group, d.group) && EqualsNoCase(c.channels, d.channels))
            return true;
        if (logDifference)
        {
            KLOG(Common::LOG_INFO, L"%s | connected bridge group=%s, lightchannels=%s", function, c.group.c_str(),
                 c.channels.c_str());
            KLOG(Common::LOG_INFO, L"%s | discovered bridge group=%s, lightchannels=%s", function, d.group.c_str(),
                 d.channels.c_str());
        }
    }
    catch (...)
    {
        KLOG(Common::LOG_ERROR, L"%s | out of memory", function);
    }
    return false;
}

bool CSmartlightingDeviceManager::CompareForRemoval(const wchar_t* function, const CRecord& connected,
                                                    const CRecord& discovered) noexcept
{
    if (SameBridge(connected, discovered))
        return CompareGroups(function, connected, discovered, true);
    KLOG(Common::LOG_INFO, L"%s | connected bridge id=%s, name=%s, ip=%s", function, connected.szId,
         connected.szName, connected.szIpAddress);
    KLOG(Common::LOG_INFO, L"%s | discovered bridge id=%s, name=%s, ip=%s", function, discovered.szId,
         discovered.szName, discovered.szIpAddress);
    return false;
}

bool CSmartlightingDeviceManager::IsAlreadyAttached(const wchar_t* function, const CRecord& connected,
                                                    const CRecord& discovered) noexcept
{
    return discovered.szGroupInfo[0] != L'\0' && SameBridge(connected, discovered) &&
           CompareGroups(function, connected, discovered, false);
}

void CSmartlightingDeviceManager::LogRecord(const wchar_t* function, int32_t index, const CRecord& record) noexcept
{
    KLOG(Common::LOG_INFO, L"%s | pid=%d, i=%d, UID=%s, name=%s, ip=%s", function, static_cast<int>(record.pid),
         static_cast<int>(index), record.szId, record.szName, record.szIpAddress);
    if (record.pid != HueBridge::HUE_BRIDGE_PID)
        return;
    try
    {
        CGroupTexts texts;
        std::wstring error;
        ReadGroupTexts(record, texts, error);
        KLOG(Common::LOG_INFO, L"%s | group=%s, lightchannel=%s", function, texts.group.c_str(),
             texts.channels.c_str());
    }
    catch (...)
    {
    }
}

DWORD CSmartlightingDeviceManager::CheckIdentifier(const wchar_t* function, const CRecord& record) noexcept
{
    const size_t chars = ::wcsnlen(record.szId, Common::DEVICE_TEXT_CHARS);
    if (chars == 0)
        return ERROR_INVALID_DATA;
    if (chars < MIN_BRIDGE_ID_CHARS)
    {
        KLOG(Common::LOG_ERROR, L"%s | bridge id %s has fewer than %d characters: not attached", function,
             record.szId, static_cast<int>(MIN_BRIDGE_ID_CHARS));
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

std::wstring CSmartlightingDeviceManager::DeviceModuleName(const CRecord& record) const
{
    return HueBridge::MakeDeviceModuleName(record.pid,
                                           std::wstring(record.szId, ::wcsnlen(record.szId, Common::DEVICE_TEXT_CHARS)));
}
