// Another process of the SDK looking at a global mutex: takes it at once,
// without waiting, and lets it go again.
//   MutexProbe.exe NAME
// Exit code: 0 taken, 1 taken but abandoned, 2 owned by another thread,
// 3 no such mutex, 4 usage.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 4;
    HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, argv[1]);
    if (!mutex)
        return 3;
    const DWORD wait = ::WaitForSingleObject(mutex, 0);
    const int code = wait == WAIT_OBJECT_0 ? 0 : wait == WAIT_ABANDONED ? 1 : 2;
    if (code != 2)
        ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
    return code;
}
