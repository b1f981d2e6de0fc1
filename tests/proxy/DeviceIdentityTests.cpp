// Device paths to numbers, instance texts, container GUIDs, keys, pipe
// names and built paths: the cases where a lookalike rule would differ.
#include <gtest/gtest.h>
#include <objbase.h>
#include <string>
#include <vector>

#include "BulbList.h"
#include "DeviceIdentity.h"
#include "DeviceKeys.h"

using namespace DeviceIdentity;

namespace
{

const wchar_t kKeyboard[] = L"\\\\?\\HID#VID_2F1A&PID_0084&MI_00&COL01#7&2f1e1e5&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    ::StringFromGUID2(guid, text, 40);
    return text;
}

struct CFieldCase
{
    const wchar_t* path;
    LONG vid, pid, mi, col, rev;
    const wchar_t* instance;
    const wchar_t* guid;
};

const CFieldCase kFieldCases[] = {
    {kKeyboard, 0x2F1A, 0x84, 0, 1, -1, L"7&2F1E1E5&0&0000", L"{2F1A0084-0001-FFFF-0000-72F1E1E50000}"},
    // Lower case: the same numbers, the same upper-case texts.
    {L"\\\\?\\hid#vid_2f1a&pid_0084&mi_00&col01#7&2f1e1e5&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}", 0x2F1A,
     0x84, 0, 1, -1, L"7&2F1E1E5&0&0000", L"{2F1A0084-0001-FFFF-0000-72F1E1E50000}"},
    // The interface class is not part of the identity.
    {L"\\\\?\\HID#VID_2F1A&PID_0084&MI_00&COL01#7&2f1e1e5&0&0000#{00000000-0000-0000-0000-000000000000}", 0x2F1A,
     0x84, 0, 1, -1, L"7&2F1E1E5&0&0000", L"{2F1A0084-0001-FFFF-0000-72F1E1E50000}"},
    // No MI_: -1, and FF in the GUID; a revision is taken.
    {L"\\\\?\\USB#VID_2F1A&PID_0090&REV_0102#5&1A2B3C4D&0&12#", 0x2F1A, 0x90, -1, -1, 0x102, L"5&1A2B3C4D&0&12",
     L"{2F1A0090-FFFF-0102-0000-51A2B3C4D012}"},
    // Only one "#" after PID: empty instance; too short for a GUID.
    {L"\\\\?\\HID#VID_2F1A&PID_0084#", 0x2F1A, 0x84, -1, -1, -1, L"", L"{00000000-0000-0000-0000-000000000000}"},
    // No PID at all: no instance, no GUID.
    {L"\\\\?\\HID#VID_2F1A&MI_02#7&2A0F4C5&0&0000#", 0x2F1A, -1, 2, -1, -1, L"",
     L"{00000000-0000-0000-0000-000000000000}"},
    // VID_12 at the end: fewer than four digits are read.
    {L"PID_0001#A#VID_12", 0x12, 1, -1, -1, -1, L"A", L"{00000000-0000-0000-0000-000000000000}"},
    {nullptr, -1, -1, -1, -1, -1, L"", L"{00000000-0000-0000-0000-000000000000}"},
};

} // namespace

TEST(DeviceIdentityParse, FieldsInstanceAndContainerGuidFollowThePath)
{
    for (const auto& c : kFieldCases)
    {
        SCOPED_TRACE(c.path ? c.path : L"(null)");
        EXPECT_EQ(c.vid, ParseVendorId(c.path));
        EXPECT_EQ(c.pid, ParseProductId(c.path));
        EXPECT_EQ(c.mi, ParseInterfaceNumber(c.path));
        EXPECT_EQ(c.col, ParseCollectionNumber(c.path));
        EXPECT_EQ(c.rev, ParseRevision(c.path));
        EXPECT_EQ(c.instance, ExtractInstanceId(c.path));
        EXPECT_EQ(c.guid, GuidText(MakeContainerGuid(c.path)));
    }
}

TEST(DeviceIdentityParse, OutputFormKeepsItsTextWhenTheRuleFindsNothing)
{
    std::wstring out = L"before";
    EXPECT_EQ(6, ExtractInstanceId(L"\\\\?\\HID#VID_2F1A#X#", out)); // no PID
    EXPECT_EQ(L"before", out);
    EXPECT_EQ(0, ExtractInstanceId(L"\\\\?\\HID#VID_2F1A&PID_0084#", out)); // one "#": found, empty
    EXPECT_EQ(L"", out);
    EXPECT_EQ(16, ExtractInstanceId(kKeyboard, out));
    EXPECT_EQ(L"7&2F1E1E5&0&0000", out);
}

namespace
{

struct CKeyCase
{
    const wchar_t* path;
    bool keyed;
    DWORD key;
    const wchar_t* pipe; // expected pipe of a special kind; null: none
};

const CKeyCase kKeyCases[] = {
    {L"\\\\?\\HID#VID_2F1A&PID_0084#7&2A0F4C5&0&0000#", true, 0x2A0F4C5, nullptr},
    // An IoT id cut to 14 characters: the key text is its characters 2 to 9.
    {L"\\\\?\\HID#VID_2F1A&PID_0F07#0&12345678&9&ABCD#", true, 0x12345678, nullptr},
    // More than eight characters: the first eight are read.
    {L"\\\\?\\HID#VID_2F1A&PID_0084#7&123456789A&0#", true, 0x12345678, nullptr},
    // "{...-" form and a plain form.
    {L"\\\\?\\HID#VID_2F1A&PID_0084#{ABCDEF12-0000}#", true, 0xABCDEF12, nullptr},
    {L"\\\\?\\HID#VID_2F1A&PID_0084#1F#", true, 0x1F, nullptr},
    // Texts that are not a number give no key at all (not key 0).
    {L"\\\\?\\HID#VID_2F1A&PID_0084#7&2A0F4C5#", false, 0, nullptr},
    {L"\\\\?\\HID#VID_2F1A&PID_0084#7&XYZ&0#", false, 0, nullptr},
    {L"\\\\?\\HID#VID_2F1A&PID_0084#{NOPE#", false, 0, nullptr},
    // Special kinds: "%x%s" of pid and number, read as decimal.
    {L"\\\\?\\hid#vid_2f1a&pid_0301#{AA7E4BA0-5FD7-47CB-95E5-1530800FD05C}5#", true, 3015,
     L"\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}5"},
    {L"\\\\?\\hid#vid_2f1a&pid_0302#{43a54adb-a530-4e8a-a3c6-88528eecfb17}3#", true, 3023,
     L"\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}3"},
    {L"\\\\?\\hid#vid_2f1a&pid_0332#{A59A8336-5A42-490E-832A-89B58D3F1347}2#", true, 3322,
     L"\\\\.\\pipe\\{5054F1BB-5F54-494C-9CC4-35F99D9E31BF}2"},
    // The object text, not the path's pid, names the kind.
    {L"\\\\?\\hid#vid_2f1a&pid_0301#{43A54ADB-A530-4E8A-A3C6-88528EECFB17}5#", true, 3025,
     L"\\\\.\\pipe\\{F71C2619-0D73-4876-8CF5-16E2629DB71B}5"},
    // A special pid without an object text has no key.
    {L"\\\\?\\HID#VID_2F1A&PID_0301#7&2A0F4C5&0&0000#", false, 0, nullptr},
    // A number that leaves 32 bits is refused rather than wrapped.
    {L"\\\\?\\hid#vid_2f1a&pid_0301#{AA7E4BA0-5FD7-47CB-95E5-1530800FD05C}99999999#", false, 0,
     L"\\\\.\\pipe\\{901D7276-A8FC-4818-8D1B-D4416EEAEA40}99999999"},
};

} // namespace

TEST(DeviceIdentityKeys, KeyAndSpecialPipeFollowTheInstanceText)
{
    for (const auto& c : kKeyCases)
    {
        SCOPED_TRACE(c.path);
        DWORD key = 0xDEADBEEF;
        EXPECT_EQ(c.keyed, MakeDeviceKey(c.path, key));
        EXPECT_EQ(c.keyed ? c.key : 0xDEADBEEF, key);
        EXPECT_EQ(c.pipe ? c.pipe : L"", MakeSpecialPipeName(c.path));
    }
}

TEST(DeviceIdentityKeys, BuiltPathsGiveTheHandlesTheHostAsksFor)
{
    struct
    {
        std::wstring path;
        DWORD key;
    } cases[] = {
        {MakeHueBulbPath(5), 3015},
        {MakeHueBulbPath(3), 3013},
        {MakeBroadcastPath(770, 3), 3023},
        {MakeBroadcastPath(770, 2), 3022},
        {MakeBroadcastPath(818, 2), 3322},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.path);
        DWORD key = 0;
        EXPECT_TRUE(MakeDeviceKey(c.path.c_str(), key));
        EXPECT_EQ(c.key, key);
    }
    EXPECT_EQ(L"\\\\?\\hid#vid_2f1a&pid_0301#{AA7E4BA0-5FD7-47CB-95E5-1530800FD05C}5#", MakeHueBulbPath(5));
    EXPECT_EQ(L"", MakeBroadcastPath(769, 1));
    EXPECT_EQ(L"\\\\.\\pipe\\HID#VID_2F1A&PID_0084#7&2A0F4C5&0&0000#",
              MakeBusPipeName(L"\\\\?\\HID#VID_2F1A&PID_0084#7&2A0F4C5&0&0000#"));
}

TEST(DeviceIdentityKeys, IoTPathsPadOrCutTheIdToFourteen)
{
    struct
    {
        const wchar_t* product;
        const wchar_t* id;
        DWORD status;
        const wchar_t* path;
    } cases[] = {
        {L"PID_0F07", L"ABC", 0, L"\\\\?\\HID#VID_2F1A&PID_0F07#A&BCFFFFFF&F&FFFF#"},
        {L"PID_0F07", L"0123456789ABCDEF", 0, L"\\\\?\\HID#VID_2F1A&PID_0F07#0&12345678&9&ABCD#"},
        {L"", L"ABC", ERROR_UNKNOWN_PRODUCT, L""},
        {L"PID_0F07", L"", ERROR_INVALID_HANDLE, L""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.id);
        std::wstring path = L"stale";
        EXPECT_EQ(c.status, MakeIoTDevicePath(c.product, c.id, path));
        EXPECT_EQ(c.path, path);
    }
}

TEST(DeviceIdentityKeys, BulbListReadsUpToTheFirstNonNumber)
{
    struct
    {
        const wchar_t* text;
        std::vector<LONG> ids;
    } cases[] = {
        {L"3,7", {3, 7}},
        {L"3,x,7", {3}},
        {L"3,,7", {3}},
        {L"-2,5,", {-2, 5}},
        {L"", {}},
        {L"junk", {}},
        {L"5,99999999999,6", {5}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.ids, ParseBulbList(c.text));
    }
    EXPECT_EQ(L"3,5,7", FormatBulbList({3, 5, 7}));
}
