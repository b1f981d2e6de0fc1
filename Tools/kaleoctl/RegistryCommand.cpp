// Prints the SDK's registry tree as the modules see it (32-bit view).
#include <windows.h>
#include <algorithm>
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

// Keys come parents first; a key's depth is the number of names in its path.
void PrintTree(const std::wstring& rootName, const std::vector<CRegKeyCopy>& keys)
{
    for (const CRegKeyCopy& saved : keys)
    {
        size_t depth = 0;
        std::wstring name = rootName;
        if (!saved.relPath.empty())
        {
            const size_t sep = saved.relPath.find_last_of(L'\\');
            depth = static_cast<size_t>(std::count(saved.relPath.begin(), saved.relPath.end(), L'\\')) + 1;
            name = sep == std::wstring::npos ? saved.relPath : saved.relPath.substr(sep + 1);
        }
        const std::wstring indent(depth * 2, L' ');
        Console::Print(L"%s[%s]\n", indent.c_str(), name.c_str());
        for (const CRegValueCopy& value : saved.values)
            Console::Print(L"%s  %s = %s\n", indent.c_str(), value.name.empty() ? L"(default)" : value.name.c_str(),
                           DescribeValue(value.type, value.data).c_str());
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
    std::vector<CRegKeyCopy> keys;
    CaptureRegTree(key.Get(), keys);
    PrintTree(L"HKLM\\" + path, keys);
    return 0;
}
