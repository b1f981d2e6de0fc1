// The registry list of attached Hue bulbs ("bulbsId"), which the device
// manager reads to build the bulbs' records, and the global Hue mutex held
// while the list is not empty.
#include "KaleoSDKNative.h"

#include <algorithm>
#include <cwchar>
#include <new>

#include "BulbList.h"
#include "DeviceSources.h"
#include "LogWriter.h"
#include "Registry.h"

using Common::CSrwLock;

namespace
{

const wchar_t ADD_NAME[] = L"CKaleoSDKNative::AddPhilipsHueBulbIds";
const wchar_t REMOVE_NAME[] = L"CKaleoSDKNative::RemovePhilipsHueBulbIds";

std::wstring HueKey()
{
    return std::wstring(DeviceSources::SMART_LIGHTING_KEY) + L"\\" + DeviceSources::PHILIPS_HUE_NAME;
}

// Reads the list; a value that is missing reads as empty. Any other failure
// (a list too long or of the wrong type) is reported, so that a list that
// could not be read is never overwritten.
DWORD ReadBulbList(const wchar_t* logName, std::wstring& text)
{
    text.clear();
    const DWORD rc = Common::RegGetString(HueKey(), DeviceSources::HUE_BULBS_VALUE, text);
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    KLOG(Common::LOG_ERROR, L"%s | bulbsId cannot be read | error = %d", logName, static_cast<int>(rc));
    return ERROR_FUNCTION_FAILED;
}

DWORD WriteBulbList(const wchar_t* logName, const std::wstring& text)
{
    if (text.size() > Common::REG_TEXT_MAX_CHARS)
    {
        // Longer than any reader of the list accepts.
        KLOG(Common::LOG_ERROR, L"%s | bulbsId would exceed %d characters: not written", logName,
             static_cast<int>(Common::REG_TEXT_MAX_CHARS));
        return ERROR_FUNCTION_FAILED;
    }
    return Common::RegSetString(HueKey(), DeviceSources::HUE_BULBS_VALUE, text);
}

// The bulb of a Hue device: the number after the last "}" of its object
// text (the whole text without one); 0 when no number follows.
LONG BulbOfObject(const std::wstring& objectName)
{
    const size_t brace = objectName.rfind(L'}');
    const std::wstring digits = brace == std::wstring::npos ? objectName : objectName.substr(brace + 1);
    const std::vector<LONG> parsed = DeviceIdentity::ParseBulbList(digits);
    return parsed.empty() ? 0 : parsed.front();
}

} // namespace

bool CKaleoSDKNative::HueBridgePaired(const wchar_t* logName) noexcept
{
    try
    {
        std::wstring path;
        Common::RegGetString(HueKey(), DeviceSources::HUE_PATH_VALUE, path);
        if (!path.empty())
            return true;
    }
    catch (const std::bad_alloc&)
    {
    }
    KLOG(Common::LOG_ERROR, L"%s | Error no hue paired to the system", logName);
    return false;
}

DWORD CKaleoSDKNative::AddPhilipsHueBulbIds(int bulb) noexcept
{
    if (!HueBridgePaired(ADD_NAME))
        return ERROR_DEVICE_NOT_CONNECTED;
    try
    {
        std::wstring text;
        if (ReadBulbList(ADD_NAME, text) != ERROR_SUCCESS)
            return ERROR_FUNCTION_FAILED;
        std::vector<LONG> ids = DeviceIdentity::ParseBulbList(text);
        DWORD result = ERROR_SUCCESS;
        if (text.empty())
            ids.assign(1, bulb);
        else if (std::find(ids.begin(), ids.end(), bulb) != ids.end())
            result = ERROR_ALREADY_EXISTS;
        else
            ids.push_back(bulb);
        // Written in every case: an id already listed writes the text back as it was.
        const DWORD written =
            WriteBulbList(ADD_NAME, result == ERROR_ALREADY_EXISTS ? text : DeviceIdentity::FormatBulbList(ids));
        return written == ERROR_SUCCESS ? result : written;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CKaleoSDKNative::RemovePhilipsHueBulbIds(DEVICE_HANDLE deviceHandle) noexcept
{
    std::wstring objectName;
    try
    {
        CSrwLock::CScopedLock lock(m_lock);
        const auto it = m_devices.find(deviceHandle);
        if (it == m_devices.end())
            return ERROR_NOT_FOUND;
        objectName = it->second.objectName;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return RemoveHueBulb(objectName);
}

DWORD CKaleoSDKNative::RemoveHueBulb(const std::wstring& objectName) noexcept
{
    if (!HueBridgePaired(REMOVE_NAME))
        return ERROR_DEVICE_NOT_CONNECTED;
    try
    {
        const LONG bulb = BulbOfObject(objectName);
        std::wstring text;
        if (ReadBulbList(REMOVE_NAME, text) != ERROR_SUCCESS)
            return ERROR_FUNCTION_FAILED;
        if (text.empty())
            return ERROR_EMPTY;
        std::vector<LONG> ids = DeviceIdentity::ParseBulbList(text);
        const auto last = std::find(ids.rbegin(), ids.rend(), bulb);
        if (last == ids.rend())
            return ERROR_NOT_FOUND;
        ids.erase(std::next(last).base());
        const DWORD written = WriteBulbList(REMOVE_NAME, DeviceIdentity::FormatBulbList(ids));
        if (ids.empty())
            ReleaseHueMutex();
        return written;
    }
    catch (const std::bad_alloc&)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}
