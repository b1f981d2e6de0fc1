#include "TestEnv.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>

#include "LogWriter.h"
#include "PathText.h"

namespace TestEnv
{

const wchar_t* const kRootKey = L"Software\\Vexel Kaleo SDK";

namespace
{
constexpr REGSAM kAccess = KEY_ALL_ACCESS | KEY_WOW64_32KEY;

struct FindTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

void DeleteFolderTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data{};
    Common::CUniqueResource<FindTraits> find(::FindFirstFileW((path + L"\\*").c_str(), &data));
    if (find)
    {
        do
        {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = path + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteFolderTree(child);
            else
            {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find.Get(), &data));
    }
    ::RemoveDirectoryW(path.c_str());
}
} // namespace

// ---------------------------------------------------------------------------

CScratchDir::CScratchDir()
{
    static std::atomic<unsigned> s_counter{0};
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    for (;;)
    {
        wchar_t name[64];
        swprintf(name, 64, L"kaleo-test-%lu-%u", ::GetCurrentProcessId(), s_counter.fetch_add(1));
        m_path = std::wstring(temp) + name;
        if (!m_path.empty() && m_path.back() == L'\\')
            m_path.pop_back();
        if (::CreateDirectoryW(m_path.c_str(), nullptr))
            break;
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
        {
            ADD_FAILURE() << "cannot create scratch folder";
            break;
        }
    }
}

CScratchDir::~CScratchDir()
{
    // A child that just ended may still hold a file for a moment.
    for (int attempt = 0; attempt < 20; ++attempt)
    {
        DeleteFolderTree(m_path);
        if (!FileExists(m_path))
            return;
        ::Sleep(50);
    }
}

// ---------------------------------------------------------------------------

CRegistrySnapshot::CRegistrySnapshot(const std::wstring& keyPath) : m_keyPath(keyPath)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) == ERROR_SUCCESS)
    {
        m_existed = true;
        Common::CaptureRegTree(key.Get(), m_keys);
    }
}

CRegistrySnapshot::~CRegistrySnapshot()
{
    RegDeleteTreeW32(m_keyPath);
    if (!m_existed)
        return;
    for (const CKey& saved : m_keys)
    {
        const std::wstring path = saved.relPath.empty() ? m_keyPath : m_keyPath + L"\\" + saved.relPath;
        Common::CRegKey key;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, kAccess, nullptr, key.Put(),
                              nullptr) != ERROR_SUCCESS)
            continue;
        for (const CValue& value : saved.values)
            ::RegSetValueExW(key.Get(), value.name.c_str(), 0, value.type,
                             value.data.empty() ? nullptr : value.data.data(), static_cast<DWORD>(value.data.size()));
    }
}

// ---------------------------------------------------------------------------

CInstallFixture::CInstallFixture() : m_snapshot(kRootKey)
{
    // Before "InstallPath" changes: the writer's own open must not create a
    // log file in the new folder.
    Common::CLogWriter::GetInstance()->Reset();
    ::CreateDirectoryW(LogsDir().c_str(), nullptr);
    ::CreateDirectoryW((m_dir / L"bin").c_str(), nullptr);
    RegWriteString(kRootKey, L"InstallPath", m_dir.Path());
}

CInstallFixture::~CInstallFixture()
{
    // Closes the log file so the folder can go, and forgets its path.
    Common::CLogWriter::GetInstance()->Reset();
}

// ---------------------------------------------------------------------------

bool RegReadString(const std::wstring& keyPath, const std::wstring& name, std::wstring& out)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    out.assign(buffer.data());
    return true;
}

bool RegReadDword(const std::wstring& keyPath, const std::wstring& name, DWORD& out)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof(out);
    DWORD type = 0;
    return ::RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool RegKeyExists(const std::wstring& keyPath)
{
    Common::CRegKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, key.Put()) ==
           ERROR_SUCCESS;
}

void RegDeleteTreeW32(const std::wstring& keyPath)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) != ERROR_SUCCESS)
        return;
    ::RegDeleteTreeW(key.Get(), nullptr);
    key.Reset();
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_WOW64_32KEY, 0);
}

void RegWriteValue(const std::wstring& keyPath, const std::wstring& name, DWORD type, const void* data, DWORD size)
{
    Common::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, kAccess, nullptr,
                                               key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size));
}

void RegWriteString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text)
{
    RegWriteValue(keyPath, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void RegWriteDword(const std::wstring& keyPath, const std::wstring& name, DWORD value)
{
    RegWriteValue(keyPath, name, REG_DWORD, &value, sizeof(value));
}

void RegDeleteValueW32(const std::wstring& keyPath, const std::wstring& name)
{
    Common::CRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kAccess, key.Put()) == ERROR_SUCCESS)
        ::RegDeleteValueW(key.Get(), name.c_str());
}

// ---------------------------------------------------------------------------

std::wstring BinDir()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return Common::FolderPart(path);
}

namespace
{
// The scripts export what they found out about the machine; a 64-bit test
// only ever pairs with 32-bit programs, so only that side asks.
bool Runs32BitPrograms()
{
    wchar_t value[8] = {};
    if (::GetEnvironmentVariableW(L"KALEO_NO_32BIT", value, 8) != 0 && std::wstring(value) == L"1")
        return false;
    return !(::GetEnvironmentVariableW(L"KALEO_RUNS_32BIT", value, 8) != 0 && std::wstring(value) == L"0");
}
} // namespace

std::wstring PeerBinDir()
{
    if (sizeof(void*) == 8 && !Runs32BitPrograms())
        return L"";
    return KALEO_PEER_BIN_DIR;
}

std::wstring PairedBinDir()
{
    const std::wstring peer = PeerBinDir();
    return peer.empty() ? BinDir() : peer;
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    Common::CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<BYTE> data;
    if (!file)
        return data;
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file.Get(), &size);
    data.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!data.empty())
        ::ReadFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &read, nullptr);
    data.resize(read);
    return data;
}

std::wstring ReadUtf16File(const std::wstring& path)
{
    const std::vector<BYTE> data = ReadFileBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
}

void WriteFileBytes(const std::wstring& path, const void* data, size_t size)
{
    Common::CHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid()) << Narrow(path);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Get(), data, static_cast<DWORD>(size), &written, nullptr));
    ASSERT_EQ(size, written);
}

LONGLONG FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// ---------------------------------------------------------------------------

namespace
{
Common::CHandle OpenOutput(const std::wstring& outputFile)
{
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    const std::wstring target = outputFile.empty() ? L"NUL" : outputFile;
    return Common::CHandle(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Spawn(const std::wstring& exe, const std::wstring& args, HANDLE output, PROCESS_INFORMATION& pi)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!args.empty())
        commandLine += L" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    Common::CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING,
                                        0, nullptr));
    si.hStdInput = input.Get();
    si.hStdOutput = output;
    si.hStdError = output;
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    return ::CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi) != 0;
}
} // namespace

CChildProcess::~CChildProcess()
{
    Kill();
    m_process.Reset();
}

bool CChildProcess::Start(const std::wstring& exe, const std::wstring& args, const std::wstring& outputFile)
{
    Common::CHandle output = OpenOutput(outputFile);
    PROCESS_INFORMATION pi{};
    // Wine now and then refuses a start while many processes come up at
    // once; the child under test is not the subject here, so it is tried
    // again, and a lasting refusal names its error.
    for (int attempt = 0; !Spawn(exe, args, output.Get(), pi); ++attempt)
    {
        const DWORD error = ::GetLastError();
        if (attempt == 2)
        {
            fprintf(stderr, "cannot start %s: error %lu\n", Narrow(exe).c_str(), error);
            return false;
        }
        ::Sleep(200);
    }
    ::CloseHandle(pi.hThread);
    m_process.Reset(pi.hProcess);
    m_pid = pi.dwProcessId;
    return true;
}

DWORD CChildProcess::Wait(DWORD timeoutMs)
{
    if (!m_process)
        return STILL_ACTIVE;
    if (::WaitForSingleObject(m_process.Get(), timeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    ::GetExitCodeProcess(m_process.Get(), &code);
    return code;
}

void CChildProcess::Kill()
{
    if (!m_process)
        return;
    if (::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
    {
        ::TerminateProcess(m_process.Get(), 1);
        ::WaitForSingleObject(m_process.Get(), 5000);
    }
}

DWORD RunProcess(const std::wstring& exe, const std::wstring& args, DWORD timeoutMs, std::string* output)
{
    CScratchDir dir;
    const std::wstring outFile = dir / L"output.txt";
    CChildProcess child;
    if (!child.Start(exe, args, outFile))
        return static_cast<DWORD>(-1);
    const DWORD code = child.Wait(timeoutMs);
    child.Kill();
    if (output)
    {
        const std::vector<BYTE> data = ReadFileBytes(outFile);
        output->assign(data.begin(), data.end());
    }
    return code;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

namespace
{
// Entries of the system's handle list (SystemHandleInformation).
struct CSystemHandle
{
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct CSystemHandles
{
    ULONG count;
    CSystemHandle handles[1];
};
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

} // namespace

DWORD OwnHandleCount()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    return HandleCountOf(::GetCurrentProcessId());
}

DWORD HandleCountOf(DWORD pid)
{
    const auto query = reinterpret_cast<NtQuerySystemInformationFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    std::vector<BYTE> buffer(1 << 16);
    for (int attempt = 0; attempt < 8; ++attempt)
    {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0)
        {
            DWORD count = 0;
            const auto* list = reinterpret_cast<const CSystemHandles*>(buffer.data());
            for (ULONG i = 0; i < list->count; ++i)
                count += list->handles[i].ownerPid == pid ? 1 : 0;
            return count;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
    return 0;
}

} // namespace TestEnv
