#include "DeviceRegistryFixture.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include "DeviceSources.h"
#include "GlobalSecurity.h"

namespace ProxyTest
{

const char kCatalogue[] = "<?xml version=\"1.0\"?>\n"
                          "<devices>\n"
                          "  <device pid=\"0x0084\" file=\"Keyboard.dll\"/>\n"
                          "  <device pid=\"0x0090\" file=\"Usb.dll\"/>\n"
                          "  <device pid=\"0x0301\" file=\"Hue.dll\"/>\n"
                          "  <device pid=\"0x0F07\" file=\"IoT.dll\"/>\n"
                          "</devices>\n";

std::string RepeatedCatalogue(size_t bytes)
{
    std::string text = "<devices>";
    while (text.size() < bytes)
        text += "<device pid=\"0x0084\" file=\"Keyboard.dll\"/>";
    return text + "</devices>";
}

namespace
{

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
const wchar_t kBroadcastRoot[] = L"Software\\Vexel\\KaleoBroadcast";

} // namespace

CDeviceRegistry::CDeviceRegistry() : m_broadcast(kBroadcastRoot)
{
    TestEnv::RegDeleteTreeW32(DeviceSources::DEVICES_KEY);
    TestEnv::RegDeleteTreeW32(kBroadcastRoot);
    WriteCatalogue(kCatalogue);
}

CDeviceRegistry::~CDeviceRegistry() = default;

std::wstring CDeviceRegistry::LogText() const
{
    std::wstring text;
    WIN32_FIND_DATAW found = {};
    const std::wstring pattern = m_install.LogsDir() + L"\\*.log";
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return text;
    do
        text += TestEnv::ReadUtf16File(m_install.LogsDir() + L"\\" + found.cFileName);
    while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return text;
}

void CDeviceRegistry::WriteCatalogue(const std::string& text) const
{
    TestEnv::WriteFileBytes(InstallPath() + L"\\Devices.xml", text.data(), text.size());
}

void CDeviceRegistry::CreateKey(const std::wstring& keyPath)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, kAccess, nullptr,
                                               key.Put(), nullptr));
}

void CDeviceRegistry::WriteValue(const std::wstring& keyPath, const std::wstring& name, DWORD type,
                                 const void* data, DWORD size)
{
    TestEnv::RegWriteValue(keyPath, name, type, data, size);
}

void CDeviceRegistry::PublishBus(const std::wstring& bus, const std::wstring& hardware, const std::wstring& instance,
                                 const std::wstring& containerId) const
{
    const std::wstring key = std::wstring(DeviceSources::DEVICES_KEY) + L"\\" + bus + L"\\" + hardware + L"\\" + instance;
    TestEnv::RegWriteString(key, DeviceSources::CONTAINER_ID_VALUE, containerId);
}

namespace
{

std::wstring KeyboardInstance(DWORD serial)
{
    wchar_t text[64] = {};
    ::_snwprintf(text, 63, L"7&%X&0&0000", static_cast<unsigned>(serial));
    return text;
}

} // namespace

void CDeviceRegistry::PublishKeyboard(DWORD serial, const std::wstring& containerId) const
{
    PublishBus(DeviceSources::BUS_HID, L"VID_2F1A&PID_0084&MI_00", KeyboardInstance(serial), containerId);
}

std::wstring CDeviceRegistry::KeyboardPath(DWORD serial)
{
    return L"\\\\?\\HID#VID_2F1A&PID_0084&MI_00#" + KeyboardInstance(serial) + L"#";
}

void CDeviceRegistry::PublishIoT(const std::wstring& product, const std::wstring& id) const
{
    CreateKey(std::wstring(DeviceSources::IOT_KEY) + L"\\" + product + L"\\" + id);
}

void CDeviceRegistry::SetHue(const std::wstring& path, const std::wstring& bulbs) const
{
    const std::wstring key = std::wstring(DeviceSources::SMART_LIGHTING_KEY) + L"\\" + DeviceSources::PHILIPS_HUE_NAME;
    TestEnv::RegWriteString(key, DeviceSources::HUE_PATH_VALUE, path);
    TestEnv::RegWriteString(key, DeviceSources::HUE_BULBS_VALUE, bulbs);
}

void CDeviceRegistry::PublishBroadcast(const std::wstring& name, DWORD pid, DWORD index, DWORD supported) const
{
    const std::wstring key = std::wstring(DeviceSources::BROADCAST_APPS_KEY) + L"\\" + name;
    WriteValue(key, DeviceSources::BROADCAST_PID_VALUE, REG_DWORD, &pid, sizeof(pid));
    WriteValue(key, DeviceSources::BROADCAST_INDEX_VALUE, REG_DWORD, &index, sizeof(index));
    WriteValue(key, DeviceSources::BROADCAST_SUPPORTED_VALUE, REG_DWORD, &supported, sizeof(supported));
}

CBroadcastPresence::CBroadcastPresence()
{
    Common::CGlobalSecurity security;
    m_mutex.Reset(::CreateMutexW(security.Build() == 0 ? security.Attributes() : nullptr, TRUE,
                                 DeviceSources::BROADCAST_PRESENCE_MUTEX));
    EXPECT_TRUE(m_mutex.IsValid());
}

size_t ThreadCount()
{
    Common::CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    size_t count = 0;
    const DWORD self = ::GetCurrentProcessId();
    for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == self)
            ++count;
    return count;
}

bool WaitForThreadCount(size_t count, DWORD timeoutMs)
{
    return TestEnv::WaitFor([&] { return ThreadCount() <= count; }, timeoutMs);
}

} // namespace ProxyTest
