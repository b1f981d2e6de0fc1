// Registry helpers and install-path lookup: values written by other
// processes may be malformed, so the bounded reads are exercised with raw
// values; the 32-bit view is checked across architectures with RegViewProbe.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "Handles.h"
#include "Registry.h"
#include "TestEnv.h"

namespace
{

const std::wstring kTestKey = std::wstring(Common::KALEO_ROOT_KEY) + L"\\RegistryTests";
const std::wstring kKeep = L"keep";

// Writes a value exactly as given, terminator or not.
void WriteRaw(const std::wstring& keyPath, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                               Common::KALEO_ALL_ACCESS, nullptr, key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), bytes));
}

void WriteRawText(const std::wstring& keyPath, const wchar_t* name, const std::wstring& chars, DWORD extraBytes = 0)
{
    std::vector<BYTE> bytes(chars.size() * sizeof(wchar_t) + extraBytes, 0x41);
    memcpy(bytes.data(), chars.data(), chars.size() * sizeof(wchar_t));
    WriteRaw(keyPath, name, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void CreateKey(const std::wstring& keyPath)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                               Common::KALEO_ALL_ACCESS, nullptr, key.Put(), nullptr));
}

class RegistryHelpers : public ::testing::Test
{
protected:
    // The whole root, since "InstallPath" is touched as well.
    TestEnv::CRegistrySnapshot m_snapshot{TestEnv::kRootKey};
};

TEST_F(RegistryHelpers, SetStringCreatesMissingKeyAndValueInOneCall)
{
    const std::wstring path = kTestKey + L"\\New\\Deeper";
    ASSERT_FALSE(TestEnv::RegKeyExists(kTestKey));
    ASSERT_EQ(0u, Common::RegSetString(path, L"Name", L"Hue Bridge"));

    // Stored as REG_SZ with its terminator.
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, Common::KALEO_QUERY_ACCESS, key.Put()));
    wchar_t data[32] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.Get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ((10u + 1u) * sizeof(wchar_t), bytes);
    EXPECT_STREQ(L"Hue Bridge", data);

    ASSERT_EQ(0u, Common::RegSetString(path, L"Name", L"x"));
    std::wstring text;
    EXPECT_EQ(0u, Common::RegGetString(path, L"Name", text));
    EXPECT_EQ(L"x", text);
}

TEST_F(RegistryHelpers, GetStringMissingKeyOrValueLeavesOutput)
{
    std::wstring text = kKeep;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Common::RegGetString(kTestKey + L"\\Absent", L"V", text));
    CreateKey(kTestKey);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Common::RegGetString(kTestKey, L"Absent", text));
    EXPECT_EQ(kKeep, text);
}

TEST_F(RegistryHelpers, GetStringFitsAtMost259Characters)
{
    const std::wstring longest(259, L'a');
    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"Longest", longest));
    std::wstring text;
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"Longest", text));
    EXPECT_EQ(longest, text);

    // One more character no longer fits the 520-byte buffer.
    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"TooLong", std::wstring(260, L'b')));
    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"Huge", std::wstring(5000, L'c')));
    text = kKeep;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), Common::RegGetString(kTestKey, L"TooLong", text));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), Common::RegGetString(kTestKey, L"Huge", text));
    EXPECT_EQ(kKeep, text);
}

TEST_F(RegistryHelpers, GetStringCopesWithMissingTerminator)
{
    WriteRawText(kTestKey, L"Short", L"abcde");
    std::wstring text;
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"Short", text));
    EXPECT_EQ(L"abcde", text);

    // Fills the whole buffer without a terminator: 260 characters do not fit
    // a 260-character text buffer.
    WriteRawText(kTestKey, L"Full", std::wstring(260, L'z'));
    text = kKeep;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), Common::RegGetString(kTestKey, L"Full", text));
    EXPECT_EQ(kKeep, text);
}

TEST_F(RegistryHelpers, GetStringOddLengthAndEmbeddedNul)
{
    WriteRawText(kTestKey, L"OddTerminated", std::wstring(L"abc\0", 4), 1);
    WriteRawText(kTestKey, L"OddBare", L"abc", 1);
    WriteRawText(kTestKey, L"Embedded", std::wstring(L"ab\0cd\0", 6));
    std::wstring text;
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"OddTerminated", text));
    EXPECT_EQ(L"abc", text);
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"OddBare", text));
    EXPECT_EQ(L"abc", text);
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"Embedded", text));
    EXPECT_EQ(L"ab", text);

    WriteRaw(kTestKey, L"Empty", REG_SZ, nullptr, 0);
    EXPECT_EQ(0u, Common::RegGetString(kTestKey, L"Empty", text));
    EXPECT_EQ(L"", text);
}

TEST_F(RegistryHelpers, GetStringRejectsNonStringTypes)
{
    const DWORD number = 0x00410041; // would read as "AA"
    WriteRaw(kTestKey, L"Number", REG_DWORD, &number, sizeof(number));
    std::wstring text = kKeep;
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Common::RegGetString(kTestKey, L"Number", text));
    EXPECT_EQ(kKeep, text);
}

TEST_F(RegistryHelpers, GetDwordReadsOnlyFourByteNumbers)
{
    const DWORD value = 0xA5A51234;
    WriteRaw(kTestKey, L"Good", REG_DWORD, &value, sizeof(value));
    DWORD out = 7;
    EXPECT_EQ(0u, Common::RegGetDword(kTestKey, L"Good", out));
    EXPECT_EQ(value, out);

    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const BYTE two[2] = {1, 2};
    WriteRaw(kTestKey, L"Long", REG_DWORD, eight, sizeof(eight));
    WriteRaw(kTestKey, L"Short", REG_DWORD, two, sizeof(two));
    WriteRaw(kTestKey, L"Text", REG_SZ, L"1", 4);
    out = 7;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), Common::RegGetDword(kTestKey, L"Long", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Common::RegGetDword(kTestKey, L"Short", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), Common::RegGetDword(kTestKey, L"Text", out));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Common::RegGetDword(kTestKey, L"Absent", out));
    EXPECT_EQ(7u, out);
}

TEST_F(RegistryHelpers, EnumSubkeysJoinsNames)
{
    CreateKey(kTestKey + L"\\A");
    CreateKey(kTestKey + L"\\B");
    std::wstring names;
    EXPECT_EQ(0u, Common::RegEnumSubkeys(kTestKey, names));
    EXPECT_EQ(L"A,B", names);

    names = L"X";
    EXPECT_EQ(0u, Common::RegEnumSubkeys(kTestKey, names));
    EXPECT_EQ(L"X,A,B", names);
}

TEST_F(RegistryHelpers, EnumSubkeysReadsTheLongestName)
{
    // The name buffer is sized from the longest name; a short buffer would
    // drop exactly this one.
    const std::wstring longest(255, L'N');
    CreateKey(kTestKey + L"\\" + longest);
    CreateKey(kTestKey + L"\\M");
    std::wstring names;
    EXPECT_EQ(0u, Common::RegEnumSubkeys(kTestKey, names));
    EXPECT_EQ(L"M," + longest, names);
}

TEST_F(RegistryHelpers, EnumSubkeysWithoutSubkeysOrKey)
{
    CreateKey(kTestKey);
    std::wstring names = L"X";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), Common::RegEnumSubkeys(kTestKey, names));
    EXPECT_EQ(L"X", names);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), Common::RegEnumSubkeys(kTestKey + L"\\Absent", names));
    EXPECT_EQ(L"X", names);
}

TEST_F(RegistryHelpers, BoundedStringReadsUpToItsLimitAndReportsWhy)
{
    CreateKey(kTestKey);
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, Common::KALEO_READ_ACCESS,
                                            key.Put()));
    WriteRawText(kTestKey, L"Eight", L"abcd");     // 8 bytes, no terminator
    WriteRawText(kTestKey, L"Odd", L"abcd", 1);    // 9 bytes
    const BYTE binary[12] = {};
    WriteRaw(kTestKey, L"Binary", REG_BINARY, binary, sizeof(binary));
    struct
    {
        const wchar_t* name;
        DWORD maxBytes;
        DWORD rc;
        const wchar_t* text;
        DWORD type;
        DWORD bytes;
    } const cases[] = {
        {L"Eight", 8, ERROR_SUCCESS, L"abcd", REG_SZ, 8},
        {L"Eight", 7, ERROR_MORE_DATA, L"keep", REG_SZ, 8},
        {L"Odd", 8, ERROR_MORE_DATA, L"keep", REG_SZ, 9},
        {L"Odd", 9, ERROR_SUCCESS, L"abcd", REG_SZ, 9},
        {L"Binary", 1024, ERROR_INVALID_DATA, L"keep", REG_BINARY, 12},
        {L"Binary", 4, ERROR_INVALID_DATA, L"keep", REG_BINARY, 12}, // the type decides first
        {L"Absent", 1024, ERROR_FILE_NOT_FOUND, L"keep", REG_NONE, 0},
    };
    for (const auto& c : cases)
    {
        std::wstring text = kKeep;
        Common::CRegValueInfo info;
        EXPECT_EQ(c.rc, Common::ReadBoundedString(key.Get(), c.name, c.maxBytes, text, &info)) << c.name;
        EXPECT_EQ(std::wstring(c.text), text) << c.name;
        if (c.rc != ERROR_FILE_NOT_FOUND)
        {
            EXPECT_EQ(c.type, info.dwType) << c.name;
            EXPECT_EQ(c.bytes, info.dwBytes) << c.name;
        }
    }
}

TEST_F(RegistryHelpers, CaptureCopiesTheTreeParentsFirst)
{
    const DWORD number = 7;
    const BYTE blob[3] = {1, 0, 2};
    WriteRaw(kTestKey, L"", REG_SZ, L"d", 2 * sizeof(wchar_t));
    WriteRaw(kTestKey + L"\\A", L"Number", REG_DWORD, &number, sizeof(number));
    WriteRaw(kTestKey + L"\\A\\B", L"Blob", REG_BINARY, blob, sizeof(blob));
    WriteRaw(kTestKey + L"\\A\\B", L"Empty", REG_SZ, nullptr, 0);

    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, Common::KALEO_READ_ACCESS,
                                            key.Put()));
    std::vector<Common::CRegKeyCopy> keys;
    ASSERT_EQ(0u, Common::CaptureRegTree(key.Get(), keys));
    ASSERT_EQ(3u, keys.size());
    EXPECT_EQ(L"", keys[0].relPath);
    EXPECT_EQ(L"A", keys[1].relPath);
    EXPECT_EQ(L"A\\B", keys[2].relPath);

    ASSERT_EQ(1u, keys[0].values.size());
    EXPECT_EQ(L"", keys[0].values[0].name);
    EXPECT_EQ(std::vector<BYTE>({'d', 0, 0, 0}), keys[0].values[0].data);
    ASSERT_EQ(1u, keys[1].values.size());
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), keys[1].values[0].type);
    EXPECT_EQ(std::vector<BYTE>({7, 0, 0, 0}), keys[1].values[0].data);
    ASSERT_EQ(2u, keys[2].values.size());
    for (const Common::CRegValueCopy& value : keys[2].values)
    {
        if (value.name == L"Blob")
            EXPECT_EQ(std::vector<BYTE>(blob, blob + 3), value.data);
        else
            EXPECT_TRUE(value.name == L"Empty" && value.type == REG_SZ && value.data.empty()) << value.name;
    }
}

TEST_F(RegistryHelpers, InstallPathReadAndRejected)
{
    {
        TestEnv::CInstallFixture install;
        std::wstring path;
        ASSERT_TRUE(Common::GetInstallPath(path));
        EXPECT_EQ(install.InstallPath(), path);
    }

    std::wstring path = kKeep;
    TestEnv::RegWriteString(TestEnv::kRootKey, L"InstallPath", L"");
    EXPECT_FALSE(Common::GetInstallPath(path)) << "an empty folder would point at the drive root";
    TestEnv::RegWriteString(TestEnv::kRootKey, L"InstallPath", std::wstring(300, L'p'));
    EXPECT_FALSE(Common::GetInstallPath(path));
    TestEnv::RegDeleteTreeW32(TestEnv::kRootKey);
    EXPECT_FALSE(Common::GetInstallPath(path));
    EXPECT_EQ(kKeep, path);
}

// ---------------------------------------------------------------------------

class RegistryViews : public ::testing::Test
{
protected:
    static std::wstring ProbeArgs(const std::wstring& name)
    {
        return L"get \"" + kTestKey + L"\" \"" + name + L"\"";
    }

    TestEnv::CRegistrySnapshot m_snapshot{TestEnv::kRootKey};
};

TEST_F(RegistryViews, OtherArchitectureReadsThroughThe32BitView)
{
    const std::wstring peer = TestEnv::PeerBinDir();
    if (peer.empty())
        GTEST_SKIP() << "no build of the other architecture configured";
    const std::wstring probe = peer + L"\\RegViewProbe.exe";
    ASSERT_TRUE(TestEnv::FileExists(probe)) << "build the other architecture first: " << TestEnv::Narrow(probe);

    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"Crossing", L"written by the other side"));
    std::string output;
    EXPECT_EQ(0u, TestEnv::RunProcess(probe, ProbeArgs(L"Crossing"), 60000, &output));
    EXPECT_EQ("written by the other side", output);

    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), TestEnv::RunProcess(probe, ProbeArgs(L"Absent"), 60000));
}

TEST_F(RegistryViews, SameArchitectureProbeAgrees)
{
    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"Local", L"same side"));
    std::string output;
    EXPECT_EQ(0u, TestEnv::RunProcess(TestEnv::BinDir() + L"\\RegViewProbe.exe", ProbeArgs(L"Local"), 60000, &output));
    EXPECT_EQ("same side", output);
}

TEST_F(RegistryViews, Plain64BitViewDoesNotSeeIt)
{
    ASSERT_EQ(0u, Common::RegSetString(kTestKey, L"Hidden", L"32-bit only"));

    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put()) ==
        ERROR_SUCCESS)
    {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ::RegQueryValueExW(key.Get(), L"Hidden", nullptr, nullptr, nullptr, nullptr));
    }

    // It lives in the redirected 32-bit part of the 64-bit registry.
    const std::wstring redirected = L"Software\\Wow6432Node\\Vexel Kaleo SDK\\RegistryTests";
    Common::CRegKey wow;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, redirected.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, wow.Put()));
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(wow.Get(), L"Hidden", nullptr, nullptr, nullptr, nullptr));
}

} // namespace
