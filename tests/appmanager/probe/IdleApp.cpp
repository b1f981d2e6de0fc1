// A stand-in app process for the tests: idles until killed or until its
// time is up, optionally holding a named mutex (an app's running marker),
// optionally after writing N zero bytes into a pipe (a client that dies in
// the middle of its request).
//   IdleApp.exe [--mutex NAME] [--exit-after MS] [--pipe NAME --write-bytes N]
#include <windows.h>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    HANDLE mutex = nullptr;
    DWORD lifetime = INFINITE;
    const wchar_t* pipeName = nullptr;
    DWORD pipeBytes = 0;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        if (std::wcscmp(argv[i], L"--mutex") == 0)
            mutex = ::CreateMutexW(nullptr, TRUE, argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--exit-after") == 0)
            lifetime = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
        else if (std::wcscmp(argv[i], L"--pipe") == 0)
            pipeName = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--write-bytes") == 0)
            pipeBytes = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    }
    HANDLE pipe = INVALID_HANDLE_VALUE;
    if (pipeName)
    {
        // Blocks while the server reads less than a message this long; the
        // process may be ended right in that write.
        pipe = ::CreateFileW(pipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const std::vector<BYTE> bytes(pipeBytes + 1, 0);
        DWORD written = 0;
        if (pipe != INVALID_HANDLE_VALUE)
            ::WriteFile(pipe, bytes.data(), pipeBytes, &written, nullptr);
    }
    ::Sleep(lifetime);
    if (pipe != INVALID_HANDLE_VALUE)
        ::CloseHandle(pipe);
    if (mutex)
        ::CloseHandle(mutex);
    return 0;
}
