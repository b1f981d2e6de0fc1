#pragma once
// Helpers of the record and priority-list tests: raw registry access to an
// app's record and stand-in apps that hold their running markers.
#include <windows.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AppManagerTestSupport.h"
#include "Handles.h"

namespace RecordTest
{

constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;
constexpr DWORD kMissing = 0xDEADBEEF;

inline std::wstring RecordKey(const std::wstring& name)
{
    return std::wstring(AppTest::kAppsKey) + L"\\" + name;
}

inline void WriteDword(const std::wstring& keyPath, const std::wstring& name, DWORD value)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, kAccess, nullptr,
                                               key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), name.c_str(), 0, REG_DWORD,
                                              reinterpret_cast<const BYTE*>(&value), sizeof(value)));
}

// Writes a value of any type and size, terminator or not.
inline void WriteRaw(const std::wstring& keyPath, const std::wstring& name, DWORD type, const void* data,
                     DWORD bytes)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, kAccess, nullptr,
                                               key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes));
}

inline DWORD Dword(const std::wstring& keyPath, const std::wstring& name)
{
    DWORD value = 0;
    return TestEnv::RegReadDword(keyPath, name, value) ? value : kMissing;
}

inline std::wstring Text(const std::wstring& keyPath, const std::wstring& name)
{
    std::wstring value;
    return TestEnv::RegReadString(keyPath, name, value) ? value : std::wstring(L"<missing>");
}

// Type and raw size of a value; false when it is absent.
inline bool RawInfo(const std::wstring& keyPath, const std::wstring& name, DWORD& type, DWORD& bytes)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return false;
    return ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS;
}

inline std::vector<std::wstring> ValueNames(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i)
    {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::vector<std::wstring> SubkeyNames(const std::wstring& keyPath)
{
    std::vector<std::wstring> names;
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i)
    {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

inline void WriteText(const std::wstring& path, const std::string& bytes)
{
    TestEnv::WriteFileBytes(path, bytes.data(), bytes.size());
}

// "Global\" + name without extension + "_vx", as the client library names
// an app's running marker (test names are lower case already).
inline std::wstring MarkerOf(const std::wstring& exeName)
{
    return L"Global\\" + exeName.substr(0, exeName.find_last_of(L'.')) + L"_vx";
}

inline bool MarkerExists(const std::wstring& name)
{
    Common::CHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    return mutex.IsValid();
}

// A copy of IdleApp.exe named exeName in folder, holding its marker unless
// told otherwise; returns once the marker exists.
inline std::unique_ptr<AppTest::CIdleApp> StartApp(const std::wstring& folder, const std::wstring& exeName,
                                                   bool holdMarker = true)
{
    const std::wstring marker = MarkerOf(exeName);
    auto app = std::make_unique<AppTest::CIdleApp>(holdMarker ? L"--mutex " + marker : std::wstring(), folder,
                                                   exeName);
    if (holdMarker)
    {
        EXPECT_TRUE(TestEnv::WaitFor([&] { return MarkerExists(marker); }, 10000))
            << "marker of " << TestEnv::Narrow(exeName);
    }
    return app;
}

// Waits until the process has gone, so its marker is gone as well.
inline void KillAndWait(AppTest::CIdleApp& app, const std::wstring& exeName)
{
    app.Kill(); // waits for the exit
    const std::wstring marker = MarkerOf(exeName);
    EXPECT_TRUE(TestEnv::WaitFor([&] { return !MarkerExists(marker); }, 10000));
}

} // namespace RecordTest
