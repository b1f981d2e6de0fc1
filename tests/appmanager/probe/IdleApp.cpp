// A stand-in app process for the tests: idles until killed or until its
// time is up, optionally holding a named mutex (an app's running marker).
//   IdleApp.exe [--mutex NAME] [--exit-after MS]
#include <windows.h>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    HANDLE mutex = nullptr;
    DWORD lifetime = INFINITE;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (std::wcscmp(argv[i], L"--mutex") == 0)
            mutex = ::CreateMutexW(nullptr, TRUE, argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--exit-after") == 0)
            lifetime = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    }
    ::Sleep(lifetime);
    if (mutex)
        ::CloseHandle(mutex);
    return 0;
}
