#include "MutexKeeper.h"

#include "Locks.h"
#include "ThreadOwner.h"

namespace MutexKeeper
{
namespace
{

// One request, served as an APC on the keeper's thread while its caller
// waits for `done`.
struct CRequest
{
    const wchar_t* name = nullptr;  // null: release `mutex`
    SECURITY_ATTRIBUTES* security = nullptr;
    HANDLE mutex = nullptr;
    DWORD error = ERROR_SUCCESS;
    HANDLE done = nullptr;
};

// An idle keeper looks this often whether it may leave (it normally leaves
// right after its last release).
constexpr DWORD IDLE_LOOK_MS = 1000;

// Guards the keeper's thread and the number of mutexes it holds or is
// about to create. The keeper leaves when that number is 0.
Common::CSrwLock g_lock;
Common::CThreadOwner g_keeper;
size_t g_held = 0;

void DropOne() noexcept
{
    Common::CSrwLock::CScopedLock hold(g_lock);
    --g_held;
}

VOID CALLBACK Serve(ULONG_PTR param) noexcept
{
    CRequest& request = *reinterpret_cast<CRequest*>(param);
    if (request.name)
    {
        request.mutex = ::CreateMutexW(request.security, TRUE, request.name);
        request.error = request.mutex ? ERROR_SUCCESS : ::GetLastError();
        if (!request.mutex)
            DropOne();
    }
    else
    {
        ::ReleaseMutex(request.mutex);
        ::CloseHandle(request.mutex);
        DropOne();
    }
    ::SetEvent(request.done);
}

// Runs on the keeper's own thread, which holds a reference on the library
// until it ends (CThreadOwner).
DWORD RunKeeper() noexcept
{
    for (;;)
    {
        // Alertable: the requests arrive as APCs.
        ::SleepEx(IDLE_LOOK_MS, TRUE);
        Common::CSrwLock::CScopedLock hold(g_lock);
        if (g_held == 0 && g_keeper.ThreadId() == ::GetCurrentThreadId())
        {
            // Leaves unobserved: the next request starts a new keeper.
            g_keeper.Detach();
            return 0;
        }
    }
}

// Queues the request to the keeper, starting one when none runs; a create
// counts as held from here on. 0, or why it could not be queued.
DWORD Queue(CRequest& request) noexcept
{
    Common::CSrwLock::CScopedLock hold(g_lock);
    if (!g_keeper.Owns())
    {
        if (!request.name)
            return ERROR_INVALID_HANDLE;  // nothing is held without a keeper
        const DWORD error = g_keeper.Start(&RunKeeper);
        if (error != ERROR_SUCCESS)
            return error;
    }
    if (!::QueueUserAPC(&Serve, g_keeper.Handle(), reinterpret_cast<ULONG_PTR>(&request)))
        return ::GetLastError();
    if (request.name)
        ++g_held;
    return ERROR_SUCCESS;
}

// Hands the request to the keeper and waits until it was served.
DWORD Submit(CRequest& request) noexcept
{
    Common::CHandle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done)
        return ::GetLastError();
    request.done = done.Get();
    const DWORD rc = Queue(request);
    if (rc != ERROR_SUCCESS)
        return rc;
    ::WaitForSingleObject(done.Get(), INFINITE);
    return request.error;
}

} // namespace

HANDLE Create(const wchar_t* name, SECURITY_ATTRIBUTES* security, DWORD& error) noexcept
{
    CRequest request;
    request.name = name ? name : L"";
    request.security = security;
    error = Submit(request);
    return error == ERROR_SUCCESS ? request.mutex : nullptr;
}

void Release(HANDLE mutex) noexcept
{
    if (!mutex)
        return;
    CRequest request;
    request.mutex = mutex;
    if (Submit(request) != ERROR_SUCCESS)
        ::CloseHandle(mutex);  // no keeper to ask: at least the handle goes
}

} // namespace MutexKeeper
