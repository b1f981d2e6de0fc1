#include "ModulePin.h"

namespace ModulePin
{

HMODULE Pin() noexcept
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Pin), &module);
    return module;
}

HMODULE Self() noexcept
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&Pin), &module);
    return module;
}

void ExitPinnedThread(DWORD code) noexcept
{
    ::FreeLibraryAndExitThread(Self(), code);
}

} // namespace ModulePin
