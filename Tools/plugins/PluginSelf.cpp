#include "PluginSelf.h"

#include <windows.h>
#include <vector>

#include "PathText.h"

namespace PluginSelf
{

namespace
{
// Long paths reach 32767 characters; nothing longer is a path.
constexpr DWORD kMaxPathChars = 32768;

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    // The address of a function of this module names the copy that holds
    // it; the reference count stays as it is.
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

} // namespace

std::wstring ModulePath()
{
    const HMODULE module = ThisModule();
    if (!module)
        return std::wstring();
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;)
    {
        const DWORD chars = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (chars == 0)
            return std::wstring();
        if (chars < buffer.size())
            return std::wstring(buffer.data(), chars);
        if (buffer.size() >= kMaxPathChars)
            return std::wstring();
        buffer.resize(kMaxPathChars);
    }
}

std::wstring InstallPath(const std::wstring& modulePath)
{
    return Common::FolderPart(Common::FolderPart(modulePath));
}

} // namespace PluginSelf
