// Reads a registry value through the helpers of this build's architecture,
// so a test of the other architecture can check what it sees.
//
//   RegViewProbe.exe get "<key path under HKLM>" "<value name>"
//
// Prints the text (UTF-8) read with Common::RegGetString (32-bit view) and
// exits 0; otherwise exits with the helper's status (87 for bad usage).
#include <windows.h>
#include <shellapi.h>
#include <string>
#include "Handles.h"
#include "Registry.h"

namespace
{

void WriteOut(const std::wstring& text)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty())
        return;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    if (size <= 0)
        return;
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

DWORD Run()
{
    int argc = 0;
    Common::CLocalMem args(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (!args || argc != 4)
        return ERROR_INVALID_PARAMETER;
    wchar_t** argv = static_cast<wchar_t**>(args.Get());
    if (std::wstring(argv[1]) != L"get")
        return ERROR_INVALID_PARAMETER;

    std::wstring text;
    const DWORD rc = Common::RegGetString(argv[2], argv[3], text);
    if (rc == ERROR_SUCCESS)
        WriteOut(text);
    return rc;
}

} // namespace

int main()
{
    try
    {
        return static_cast<int>(Run());
    }
    catch (...)
    {
        return ERROR_FUNCTION_FAILED;
    }
}
