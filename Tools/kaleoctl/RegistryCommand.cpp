// Prints the SDK's registry tree as the modules see it (32-bit view).
#include <windows.h>
#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "Handles.h"
#include "Registry.h"

using namespace Common;

namespace
{
std::wstring DescribeValue(DWORD type, const std::vector<BYTE>& data)
{
    switch (type)
    {
    case REG_SZ:
    case REG_EXPAND_SZ:
    {
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        const size_t nul = text.find(L'\0');
        if (nul != std::wstring::npos)
            text.resize(nul);
        return L"\"" + text + L"\"";
    }
    case REG_DWORD:
        if (data.size() == sizeof(DWORD))
        {
            DWORD value = 0;
            memcpy(&value, data.data(), sizeof(value));
            return Console::Format(L"0x%08lX (%lu)", value, value);
        }
        break;
    default:
        break;
    }
    return Console::Format(L"<type %lu, %u bytes>", type, static_cast<unsigned>(data.size()));
}

void PrintKey(HKEY key, const std::wstring& name, int depth)
{
    const std::wstring indent(static_cast<size_t>(depth) * 2, L' ');
    Console::Print(L"%s[%s]\n", indent.c_str(), name.c_str());
    for (DWORD i = 0;; ++i)
    {
        wchar_t valueName[16384];
        DWORD nameLen = 16384;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key, i, valueName, &nameLen, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameLen = 16384;
        if (::RegEnumValueW(key, i, valueName, &nameLen, nullptr, &type, size ? data.data() : nullptr, &size) !=
            ERROR_SUCCESS)
            continue;
        data.resize(size);
        Console::Print(L"%s  %s = %s\n", indent.c_str(), nameLen ? valueName : L"(default)",
                       DescribeValue(type, data).c_str());
    }
    for (DWORD i = 0;; ++i)
    {
        wchar_t childName[256];
        DWORD childLen = 256;
        if (::RegEnumKeyExW(key, i, childName, &childLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CRegKey child;
        if (::RegOpenKeyExW(key, childName, 0, KALEO_READ_ACCESS, child.Put()) == ERROR_SUCCESS)
            PrintKey(child.Get(), childName, depth + 1);
    }
}
} // namespace

int CmdRegistry(const CArgs& args)
{
    const std::wstring path = args.empty() ? std::wstring(KALEO_ROOT_KEY) : args[0];
    CRegKey key;
    const LSTATUS rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KALEO_READ_ACCESS, key.Put());
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"registry: HKLM\\%s cannot be opened (%ld)\n", path.c_str(), rc);
        return 1;
    }
    PrintKey(key.Get(), L"HKLM\\" + path, 0);
    return 0;
}
