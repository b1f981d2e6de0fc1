// kaleoctl netdev iot: edits the IoT device list as the device finder
// keeps it: one object per device, identified by its MAC address (compared
// without case), and points the IoT module's Path at the file.
#include <windows.h>
#include <nlohmann/json.hpp>
#include <string>

#include "ConfigNames.h"
#include "Console.h"
#include "NetDev.h"
#include "NetDevFiles.h"
#include "NetDevIoTList.h"
#include "TextCodec.h"

namespace
{

struct CTextOption
{
    const wchar_t* option;
    const char* member;
};

const CTextOption kTextOptions[] = {
    {L"--name", NetDevice::IOT_DEVICE_NAME},
    {L"--ip", NetDevice::IOT_IP_ADDRESS},
    {L"--serial", NetDevice::IOT_SERIAL_NUMBER},
};

struct CNumberOption
{
    const wchar_t* option;
    const char* member;
    uint64_t max;
};

const CNumberOption kNumberOptions[] = {
    {L"--pid", NetDevice::IOT_PID, 0xFFFFFFFFull},
    {L"--eid", NetDevice::IOT_EID, 0xFFFFFFFFull},
    {L"--handle", NetDevice::IOT_HANDLE, ~0ull},
};

// The members given on the command line, ready to be set on a device.
struct CEdit
{
    std::wstring mac;
    bool haveMac = false;
    nlohmann::json members = nlohmann::json::object();
};

bool TakeEdit(CArgs& args, CEdit& edit)
{
    edit.haveMac = TakeOption(args, L"--mac", edit.mac);
    if (edit.haveMac && edit.mac.empty())
    {
        Console::Err(L"netdev iot: --mac needs a MAC address\n");
        return false;
    }
    std::wstring text;
    for (const CTextOption& option : kTextOptions)
    {
        if (TakeOption(args, option.option, text))
            edit.members[option.member] = TextCodec::WideToUtf8Lenient(text);
    }
    for (const CNumberOption& option : kNumberOptions)
    {
        if (!TakeOption(args, option.option, text))
            continue;
        uint64_t value = 0;
        if (!NetDev::ParseUInt64(text, value) || value > option.max)
        {
            Console::Error(L"netdev iot: %s takes 0 to %llu (decimal or 0x hex), not '%s'\n", option.option,
                           static_cast<unsigned long long>(option.max), text.c_str());
            return false;
        }
        edit.members[option.member] = value;
    }
    return true;
}

bool SameMac(const nlohmann::json& device, const std::wstring& mac)
{
    if (!device.is_object())
        return false;
    const auto it = device.find(NetDevice::IOT_MAC_ADDRESS);
    return it != device.end() && it->is_string() &&
           Common::EqualsNoCase(TextCodec::Utf8ToWideLenient(it->get<std::string>()), mac);
}

// A full device object: every member the module reads, defaults for those
// not given.
nlohmann::json NewDevice(const CEdit& edit)
{
    using namespace NetDevice;
    nlohmann::json device = {{IOT_PID, 0},          {IOT_EID, 0},        {IOT_HANDLE, 0},
                             {IOT_DEVICE_NAME, ""}, {IOT_IP_ADDRESS, ""}, {IOT_SERIAL_NUMBER, ""}};
    device[IOT_MAC_ADDRESS] = TextCodec::WideToUtf8Lenient(edit.mac);
    device.update(edit.members);
    return device;
}

int Add(nlohmann::json& list, const CEdit& edit)
{
    if (!edit.haveMac || !edit.members.contains(NetDevice::IOT_PID))
    {
        Console::Err(L"netdev iot add: give --mac MAC and --pid N\n");
        return 2;
    }
    for (const nlohmann::json& device : list)
    {
        if (SameMac(device, edit.mac))
        {
            Console::Error(L"netdev iot add: %s is listed already; use 'iot change'\n", edit.mac.c_str());
            return 1;
        }
    }
    list.push_back(NewDevice(edit));
    return 0;
}

int Change(nlohmann::json& list, const CEdit& edit)
{
    if (!edit.haveMac || edit.members.empty())
    {
        Console::Err(L"netdev iot change: give --mac MAC and at least one value to change\n");
        return 2;
    }
    bool found = false;
    for (nlohmann::json& device : list)
    {
        if (SameMac(device, edit.mac))
        {
            device.update(edit.members);
            found = true;
        }
    }
    if (!found)
        Console::Error(L"netdev iot change: %s is not listed\n", edit.mac.c_str());
    return found ? 0 : 1;
}

int Remove(nlohmann::json& list, const CEdit& edit)
{
    if (!edit.haveMac || !edit.members.empty())
    {
        Console::Err(L"netdev iot remove: give --mac MAC only\n");
        return 2;
    }
    const size_t before = list.size();
    nlohmann::json kept = nlohmann::json::array();
    for (nlohmann::json& device : list)
    {
        if (!SameMac(device, edit.mac))
            kept.push_back(std::move(device));
    }
    list = std::move(kept);
    if (list.size() == before)
        Console::Error(L"netdev iot remove: %s is not listed\n", edit.mac.c_str());
    return list.size() == before ? 1 : 0;
}

int Clear(nlohmann::json& list, const CEdit& edit)
{
    if (edit.haveMac || !edit.members.empty())
    {
        Console::Err(L"netdev iot clear: takes no device values\n");
        return 2;
    }
    list = nlohmann::json::array();
    return 0;
}

struct CListAction
{
    const wchar_t* name;
    int (*run)(nlohmann::json&, const CEdit&);
    bool readsList; // clear replaces whatever the file holds
};

const CListAction kListActions[] = {
    {L"add", Add, true},
    {L"change", Change, true},
    {L"remove", Remove, true},
    {L"clear", Clear, false},
};

int ShowList(const std::wstring& path)
{
    nlohmann::json list;
    if (NetDevIoT::ReadList(path, list) != 0)
        return 1;
    Console::Print(L"iot: %s: %lu entries\n", path.c_str(), static_cast<unsigned long>(list.size()));
    for (size_t k = 0; k < list.size(); ++k)
        Console::Print(L"  [%lu] %s\n", static_cast<unsigned long>(k), TextCodec::Utf8ToWideLenient(list[k].dump()).c_str());
    return 0;
}

int Raw(CArgs& args, const std::wstring& path, bool noPath)
{
    std::wstring text, lengthText;
    const bool haveText = TakeOption(args, L"--text", text);
    const bool haveLength = TakeOption(args, L"--length", lengthText);
    if (!NetDev::NoMoreArgs(args, L"iot raw"))
        return 2;
    int32_t length = 0;
    if (!haveText || (haveLength && !NetDev::ParseInt32(lengthText, length)))
    {
        Console::Err(L"netdev iot raw: give --text T and, if wanted, --length N (a signed 32-bit number)\n");
        return 2;
    }
    const std::string utf8 = TextCodec::WideToUtf8Lenient(text);
    if (!haveLength)
        length = static_cast<int32_t>(utf8.size());
    const std::string bytes = NetDevIoT::EncodeList(utf8, length);
    const DWORD rc = NetDevFiles::WriteFileReplacing(path, bytes);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev iot raw: cannot write %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    Console::Print(L"iot: wrote %s (length field %ld, %lu bytes of text)\n", path.c_str(), static_cast<long>(length),
                   static_cast<unsigned long>(utf8.size()));
    return noPath ? 0 : NetDev::SetConfigPath(NetDev::IoTModule(), path);
}

int EditList(const CListAction& action, const CEdit& edit, const std::wstring& path, bool noPath)
{
    nlohmann::json list = nlohmann::json::array();
    if (action.readsList && NetDevIoT::ReadList(path, list) != 0)
        return 1;
    const int rc = action.run(list, edit);
    if (rc != 0)
        return rc;
    if (NetDevIoT::WriteList(path, list) != 0)
        return 1;
    Console::Print(L"iot: %s: %lu entries\n", path.c_str(), static_cast<unsigned long>(list.size()));
    return noPath ? 0 : NetDev::SetConfigPath(NetDev::IoTModule(), path);
}

} // namespace

namespace NetDev
{

int IoT(CArgs& argsIn)
{
    if (argsIn.empty())
    {
        Console::Err(L"netdev iot: give add, change, remove, clear, show or raw (see 'kaleoctl netdev')\n");
        return 2;
    }
    const std::wstring actionName = argsIn[0];
    CArgs args(argsIn.begin() + 1, argsIn.end());
    std::wstring file;
    const bool noPath = TakeFlag(args, L"--no-path");
    if (!TakeOption(args, L"--file", file))
    {
        Console::Err(L"netdev iot: give --file PATH\n");
        return 2;
    }
    const std::wstring path = NetDevFiles::FullPath(file);
    if (path.empty())
    {
        Console::Error(L"netdev iot: '%s' is no usable file path\n", file.c_str());
        return 2;
    }
    if (actionName == L"show")
        return NoMoreArgs(args, L"iot show") ? ShowList(path) : 2;
    if (actionName == L"raw")
        return Raw(args, path, noPath);
    for (const CListAction& action : kListActions)
    {
        if (actionName != action.name)
            continue;
        CEdit edit;
        if (!TakeEdit(args, edit) || !NoMoreArgs(args, action.name))
            return 2;
        return EditList(action, edit, path, noPath);
    }
    Console::Error(L"netdev iot: unknown action '%s'\n", actionName.c_str());
    return 2;
}

} // namespace NetDev
