// kaleoctl netdev hue: the bridge configuration as the program that pairs
// bridges writes it: {"Bridges":[{...}]} under the whole-file XOR of the
// smart-lighting module, or any text in its place for hostile-file tests.
#include <windows.h>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Console.h"
#include "ConfigFiles.h"
#include "ConfigNames.h"
#include "NetDev.h"
#include "NetDevFiles.h"
#include "Scramble.h"
#include "TextCodec.h"

namespace
{

struct CGroup
{
    std::string id;
    std::vector<std::string> lights;
};

struct CBridge
{
    std::wstring id, name, ip, selected;
    bool selectedGiven = false;
    std::vector<CGroup> groups;
};

// "ID=L1,L2,..." with a non-empty id; "ID=" is a group without lights.
bool ParseGroup(const std::wstring& text, CGroup& group)
{
    const size_t equals = text.find(L'=');
    if (equals == std::wstring::npos || equals == 0)
        return false;
    group.id = TextCodec::WideToUtf8Lenient(text.substr(0, equals));
    group.lights.clear();
    size_t start = equals + 1;
    while (start < text.size())
    {
        size_t comma = text.find(L',', start);
        if (comma == std::wstring::npos)
            comma = text.size();
        if (comma == start)
            return false;
        group.lights.push_back(TextCodec::WideToUtf8Lenient(text.substr(start, comma - start)));
        start = comma + 1;
    }
    return text.back() != L',';
}

bool TakeGroups(CArgs& args, std::vector<CGroup>& groups)
{
    std::wstring text;
    while (TakeOption(args, L"--group", text))
    {
        CGroup group;
        if (!ParseGroup(text, group))
        {
            Console::Error(L"netdev hue: --group takes ID=L1,L2,... (ID= for no lights), not '%s'\n", text.c_str());
            return false;
        }
        groups.push_back(std::move(group));
    }
    return true;
}

// The document in UTF-8, as the JSON library writes it.
std::string BridgeDocument(const CBridge& bridge)
{
    nlohmann::json groups = nlohmann::json::object();
    for (const CGroup& group : bridge.groups)
    {
        nlohmann::json entry = nlohmann::json::object();
        entry[NetDevice::HUE_ID] = group.id;
        entry[NetDevice::HUE_LIGHTS] = group.lights;
        groups[group.id] = entry;
    }
    std::string selected;
    if (bridge.selectedGiven)
        selected = TextCodec::WideToUtf8Lenient(bridge.selected);
    else if (!bridge.groups.empty())
        selected = bridge.groups.front().id;

    nlohmann::json entry = nlohmann::json::object();
    entry[NetDevice::HUE_ID] = TextCodec::WideToUtf8Lenient(bridge.id);
    entry[NetDevice::HUE_NAME] = TextCodec::WideToUtf8Lenient(bridge.name);
    entry[NetDevice::HUE_IP_ADDRESS] = TextCodec::WideToUtf8Lenient(bridge.ip);
    entry[NetDevice::HUE_SELECTED_GROUP] = selected;
    entry[NetDevice::HUE_GROUPS] = groups;
    nlohmann::json root = nlohmann::json::object();
    root[NetDevice::HUE_BRIDGES] = nlohmann::json::array({entry});
    return root.dump();
}

} // namespace

namespace NetDev
{

int Hue(CArgs& args)
{
    std::wstring file, raw;
    CBridge bridge;
    const bool plain = TakeFlag(args, L"--plain");
    const bool noPath = TakeFlag(args, L"--no-path");
    const bool haveFile = TakeOption(args, L"--file", file);
    const bool haveRaw = TakeOption(args, L"--raw", raw);
    const bool haveId = TakeOption(args, L"--id", bridge.id);
    TakeOption(args, L"--name", bridge.name);
    TakeOption(args, L"--ip", bridge.ip);
    bridge.selectedGiven = TakeOption(args, L"--selected", bridge.selected);
    if (!TakeGroups(args, bridge.groups) || !NoMoreArgs(args, L"hue"))
        return 2;
    if (!haveFile || haveRaw == haveId)
    {
        Console::Err(L"netdev hue: give --file PATH and either --id ID or --raw TEXT\n");
        return 2;
    }
    const std::wstring path = NetDevFiles::FullPath(file);
    if (path.empty())
    {
        Console::Error(L"netdev hue: '%s' is no usable file path\n", file.c_str());
        return 2;
    }

    // UTF-8, as the module reads it.
    const std::string text = haveRaw ? TextCodec::WideToUtf8Lenient(raw) : BridgeDocument(bridge);
    const std::string bytes = plain ? text : NetDevice::MakeScrambledFile(text, NetDevice::SMARTLIGHTING_CONFIG_KEY);
    const DWORD rc = NetDevFiles::WriteFileReplacing(path, bytes);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev hue: cannot write %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    Console::Print(L"hue: wrote %s (%lu bytes, %s)\n", path.c_str(), static_cast<unsigned long>(bytes.size()),
                   plain ? L"plain" : L"scrambled");
    return noPath ? 0 : SetConfigPath(HueModule(), path);
}

} // namespace NetDev
