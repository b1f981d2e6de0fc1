// A service module for the host tests. Every call of an export, and the
// unload, is appended as one line to the file named by KALEO_TEST_MODULE_LOG:
//   "<module file name> <call> <argument> <thread id>"
// with call one of init, event, uninit, detach-free (FreeLibrary) and
// detach-exit (process end). OnServiceEvent returns code * 100 plus the
// module's letter (TestModuleA.dll: 1, TestModuleB.dll: 2, ...), so callers
// can tell the results apart. UnInitServiceModule returns the value of
// KALEO_TEST_UNINIT_RESULT_<file name without .dll>, 0 when unset.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Handles.h"
#include "ServiceEntry.h"  // declares the three exports: a drifting signature fails here

namespace
{

HMODULE g_self = nullptr;
char g_name[MAX_PATH] = "?";

void RememberName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(g_self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/')
            base = p + 1;
    ::WideCharToMultiByte(CP_UTF8, 0, base, -1, g_name, sizeof(g_name), nullptr, nullptr);
}

// The letter before ".dll": A = 1, B = 2, ...; 0 for any other name.
int Letter()
{
    const size_t len = std::strlen(g_name);
    if (len < 5 || _stricmp(g_name + len - 4, ".dll") != 0)
        return 0;
    const char c = g_name[len - 5];
    return c >= 'A' && c <= 'Z' ? c - 'A' + 1 : 0;
}

void Record(const char* call, int argument)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD n = ::GetEnvironmentVariableW(L"KALEO_TEST_MODULE_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    char line[MAX_PATH + 64];
    const int len = std::snprintf(line, sizeof(line), "%s %s %d %lu\r\n", g_name, call, argument,
                                  ::GetCurrentThreadId());
    if (len <= 0 || len >= static_cast<int>(sizeof(line)))
        return;
    Common::CHandle file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        ::WriteFile(file.Get(), line, static_cast<DWORD>(len), &written, nullptr);
}

int UnInitResult()
{
    char stem[sizeof(g_name)];
    std::memcpy(stem, g_name, sizeof(stem));
    stem[sizeof(stem) - 1] = '\0';
    if (char* dot = std::strrchr(stem, '.'))
        *dot = '\0';
    char variable[MAX_PATH + 32];
    std::snprintf(variable, sizeof(variable), "KALEO_TEST_UNINIT_RESULT_%s", stem);
    char value[32] = {};
    const DWORD n = ::GetEnvironmentVariableA(variable, value, sizeof(value));
    return n > 0 && n < sizeof(value) ? std::atoi(value) : 0;
}

} // namespace

extern "C" __declspec(dllexport) int __cdecl InitServiceModule(int context)
{
    Record("init", context);
    return 0;
}

extern "C" __declspec(dllexport) int __cdecl OnServiceEvent(int code)
{
    Record("event", code);
    return code * 100 + Letter();
}

extern "C" __declspec(dllexport) int __cdecl UnInitServiceModule(int context)
{
    Record("uninit", context);
    return UnInitResult();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
    {
        g_self = instance;
        ::DisableThreadLibraryCalls(instance);
        RememberName();
    }
    else if (reason == DLL_PROCESS_DETACH)
        Record(reserved == nullptr ? "detach-free" : "detach-exit", 0);
    return TRUE;
}
