// Prints or follows a module log (UTF-16LE lines under InstallPath\Logs).
#include <windows.h>
#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "Handles.h"
#include "Registry.h"

using namespace Common;

namespace
{
std::atomic<LONG> g_stop{0};

BOOL WINAPI OnCtrl(DWORD)
{
    g_stop = 1;
    return TRUE;
}

// Reads the bytes from offset on; returns false when the file cannot be
// opened. A trailing odd byte (a line being written) is left for later.
bool ReadFrom(const std::wstring& path, LONGLONG& offset, std::wstring& text)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size))
        return false;
    if (size.QuadPart < offset)
        offset = 0; // rotated: start on the new file
    LARGE_INTEGER pos{};
    pos.QuadPart = offset;
    ::SetFilePointerEx(file.Get(), pos, nullptr, FILE_BEGIN);
    const LONGLONG available = (size.QuadPart - offset) & ~1LL;
    std::vector<wchar_t> buffer(static_cast<size_t>(available / 2));
    DWORD read = 0;
    if (!buffer.empty() &&
        !::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(available), &read, nullptr))
        return false;
    read &= ~1u;
    text.assign(buffer.data(), read / 2);
    offset += read;
    return true;
}

std::wstring LastLines(const std::wstring& text, size_t count)
{
    size_t pos = text.size();
    size_t seen = 0;
    while (pos > 0)
    {
        const size_t nl = text.rfind(L'\n', pos - 1);
        if (nl == std::wstring::npos)
            return text;
        if (nl != text.size() - 1 && ++seen == count)
            return text.substr(nl + 1);
        pos = nl;
    }
    return text;
}

std::wstring StripCr(std::wstring text)
{
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text)
        if (c != L'\r')
            out.push_back(c);
    return out;
}
} // namespace

int CmdLog(const CArgs& argsIn)
{
    CArgs args = argsIn;
    std::wstring fileName = L"VxSvcHost.exe.log";
    TakeOption(args, L"--file", fileName);
    const bool follow = TakeFlag(args, L"--follow");
    std::wstring tail;
    const bool hasTail = TakeOption(args, L"--tail", tail);
    unsigned long tailLines = 0;
    if (hasTail && !ParseNumber(tail, tailLines))
    {
        Console::Err(L"log: --tail takes a number of lines\n");
        return 2;
    }
    if (fileName.find_first_of(L"\\/:") != std::wstring::npos)
    {
        Console::Err(L"log: --file takes a plain file name\n");
        return 2;
    }

    std::wstring installPath;
    if (!GetInstallPath(installPath))
    {
        Console::Err(L"log: no InstallPath: run 'kaleoctl install' first\n");
        return 1;
    }
    const std::wstring path = installPath + L"\\Logs\\" + fileName;

    LONGLONG offset = 0;
    std::wstring text;
    if (!ReadFrom(path, offset, text) && !follow)
    {
        Console::Error(L"log: cannot open %s (%lu)\n", path.c_str(), ::GetLastError());
        return 1;
    }
    if (hasTail)
        text = LastLines(text, static_cast<size_t>(tailLines));
    Console::Out(StripCr(text));
    if (!follow)
        return 0;

    ::SetConsoleCtrlHandler(OnCtrl, TRUE);
    while (!g_stop)
    {
        ::Sleep(200);
        if (ReadFrom(path, offset, text))
            Console::Out(StripCr(text));
    }
    return 0;
}
