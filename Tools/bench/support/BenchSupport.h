#pragma once
// Pieces every benchmark needs: a millisecond clock, the SDK's registry
// root saved and put back exactly, and a scratch install folder.
#include <windows.h>

#include <string>
#include <vector>

#include "Handles.h"
#include "LogWriter.h"
#include "Registry.h"

namespace BenchSupport
{

using namespace Common;

inline double NowMs()
{
    static const double s_msPerTick = [] {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return 1000.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * s_msPerTick;
}

// ---------------------------------------------------------------------------
// The SDK's registry root, saved and put back exactly.

class CRegistryRootBackup
{
public:
    CRegistryRootBackup()
    {
        CRegKey key;
        m_existed = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, 0, KALEO_READ_ACCESS | KEY_QUERY_VALUE,
                                    key.Put()) == ERROR_SUCCESS;
        if (m_existed)
            CaptureRegTree(key.Get(), m_keys);
    }
    ~CRegistryRootBackup()
    {
        DeleteRoot();
        for (const CKey& saved : m_keys)
        {
            const std::wstring path = saved.relPath.empty() ? std::wstring(KALEO_ROOT_KEY)
                                                            : std::wstring(KALEO_ROOT_KEY) + L"\\" + saved.relPath;
            CRegKey key;
            if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KALEO_ALL_ACCESS, nullptr,
                                  key.Put(), nullptr) != ERROR_SUCCESS)
                continue;
            for (const CValue& value : saved.values)
                ::RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type,
                                 value.data.empty() ? nullptr : value.data.data(),
                                 static_cast<DWORD>(value.data.size()));
        }
    }
    CRegistryRootBackup(const CRegistryRootBackup&) = delete;
    CRegistryRootBackup& operator=(const CRegistryRootBackup&) = delete;

    static void DeleteRoot()
    {
        CRegKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, 0, KALEO_ALL_ACCESS, key.Put()) != ERROR_SUCCESS)
            return;
        ::RegDeleteTreeW(key.Get(), nullptr);
        key.Reset();
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, KALEO_ROOT_KEY, KEY_WOW64_32KEY, 0);
    }

private:
    using CValue = CRegValueCopy;
    using CKey = CRegKeyCopy;

    bool m_existed = false;
    std::vector<CKey> m_keys;
};

// A fresh install folder with Logs and bin; removed afterwards.
class CTempInstall
{
public:
    CTempInstall()
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"kaleo-bench-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_path.c_str(), nullptr);
        ::CreateDirectoryW((m_path + L"\\Logs").c_str(), nullptr);
        ::CreateDirectoryW((m_path + L"\\bin").c_str(), nullptr);
    }
    ~CTempInstall()
    {
        CLogWriter::GetInstance()->Reset();  // closes the log so the folder can go
        RemoveTree(m_path);
    }
    CTempInstall(const CTempInstall&) = delete;
    CTempInstall& operator=(const CTempInstall&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    static void RemoveTree(const std::wstring& path)
    {
        WIN32_FIND_DATAW data{};
        const HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE)
        {
            do
            {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring child = path + L"\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(child);
                else
                    ::DeleteFileW(child.c_str());
            } while (::FindNextFileW(find, &data));
            ::FindClose(find);
        }
        ::RemoveDirectoryW(path.c_str());
    }
    std::wstring m_path;
};

} // namespace BenchSupport
