// File names of the per-device plug-in copies, and the group information
// texts the smart-lighting comparisons read.
#include <gtest/gtest.h>

#include <string>

#include "GroupInfo.h"
#include "HueModuleName.h"
#include "IoTModuleName.h"
#include "TestEnv.h"

using TestEnv::Narrow;

namespace
{

TEST(DeviceModuleNames, HueAndIoTNames)
{
    struct
    {
        bool hue;
        int32_t pid;
        const wchar_t* identifier;
        const wchar_t* name;
    } const cases[] = {
        {true, 769, L"001788fffe123abc", L"2F1A0301-00FF-FFFF-0017-88FFFE123ABC.mod"},
        {true, 769, L"001788fffe123abcdef", L"2F1A0301-00FF-FFFF-0017-88FFFE123ABC.mod"},
        {false, 0x0A21, L"aa:bb:cc:dd:ee:ff", L"2F1A0A21-00FF-FFFF-0000-AABBCCDDEEFF.mod"},
        {false, 0x0A21, L"AA-BB-CC-DD-EE-FF", L"2F1A0A21-00FF-FFFF-0000-AABBCCDDEEFF.mod"},
        {false, 0x12345, L"aabbccddeeff", L"2F1A12345-00FF-FFFF-0000-AABBCCDDEEFF.mod"},
        {false, 1, L"aabbccddeeff", L"2F1A0001-00FF-FFFF-0000-AABBCCDDEEFF.mod"},
        {false, -1, L"aabbccddeeff", L"2F1AFFFFFFFF-00FF-FFFF-0000-AABBCCDDEEFF.mod"},
    };
    for (const auto& c : cases)
    {
        const std::wstring name = c.hue ? HueBridge::MakeDeviceModuleName(c.pid, c.identifier)
                                        : IoTList::MakeDeviceModuleName(c.pid, c.identifier);
        EXPECT_EQ(std::wstring(c.name), name) << Narrow(c.identifier);
    }
}

TEST(GroupInfoText, FieldTextsOfAGroupInformation)
{
    struct
    {
        const wchar_t* name;
        const wchar_t* text;
        const wchar_t* field;
    } const cases[] = {
        {L"SelectedGroup", L"{\"LightChannels\":3,\"SelectedGroup\":\"7\"}", L"7"},
        {L"LightChannels", L"{\"LightChannels\":3,\"SelectedGroup\":\"7\"}", L"3"},
        {L"SelectedGroup", L"{\"SelectedGroup\":\"\"}", L""},
        {L"SelectedGroup", L"{}", L"null"},
        {L"a", L"{\"a\":-2.9}", L"-2"},
        {L"a", L"{\"a\":4294967297}", L"1"},
        {L"a", L"{\"a\":1e20}", L"-2147483648"},
        {L"a", L"{\"a\":{\"b\":[true,\"c\"]}}", L"{b:[true,c]}"},
    };
    for (const auto& c : cases)
    {
        std::wstring field, error;
        EXPECT_TRUE(HueBridge::TryGetJsonFieldText(c.name, c.text, field, error)) << Narrow(c.text);
        EXPECT_EQ(std::wstring(c.field), field) << Narrow(c.text);
    }
    // Deep but valid: printing it would recurse once per level.
    const std::wstring deep = L"{\"a\":" + std::wstring(100000, L'[') + std::wstring(100000, L']') + L"}";
    for (const wchar_t* bad : {L"", L"[1]", L"null", L"{", deep.c_str()})
    {
        std::wstring field = L"stale", error;
        EXPECT_FALSE(HueBridge::TryGetJsonFieldText(L"a", bad, field, error)) << Narrow(bad);
        EXPECT_TRUE(field.empty());
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(L"{\"LightChannels\":4,\"SelectedGroup\":\"a\\\"b\"}", HueBridge::MakeGroupInfo(4, "a\"b"));
}

} // namespace
