// A library that leaves a thread of its own running after the caller's
// FreeLibrary: the thread must still find its code mapped.
#include <windows.h>

#include "ThreadOwner.h"

namespace
{
// Read by the thread after the library's last outside reference is gone.
const wchar_t kMark[] = L"still mapped";
}

// Starts a thread that waits for `go`, copies kMark into `out` and sets
// `done`. The handles and the buffer are the caller's and outlive it.
extern "C" __declspec(dllexport) DWORD StartLingeringThread(HANDLE go, HANDLE done, wchar_t* out, DWORD chars)
{
    Common::CThreadOwner thread;
    const DWORD rc = thread.Start([go, done, out, chars]() -> DWORD {
        ::WaitForSingleObject(go, INFINITE);
        ::lstrcpynW(out, kMark, static_cast<int>(chars));
        ::SetEvent(done);
        return 0;
    });
    if (rc == ERROR_SUCCESS && thread.Join(0))
        return ERROR_GEN_FAILURE;  // cannot have ended: it waits for `go`
    thread.Detach();
    return rc;
}
