#pragma once
// The owner of one thread of this module. The thread holds a reference on
// the module from before it is created until it ends (ModulePin), so a
// thread that outlives its owner's wait never runs on unmapped code; no
// exception leaves its body. The owner joins up to a bound and, past it,
// keeps the handle of the thread that lingers: that thread ends by itself.
#include <windows.h>
#include <new>
#include <utility>

#include "Handles.h"

namespace Common
{

class CThreadOwner
{
public:
    CThreadOwner() noexcept = default;
    // Never waits: a thread still running holds its own state and module
    // reference. Owners whose thread uses them join it first.
    ~CThreadOwner() = default;
    CThreadOwner(CThreadOwner&&) noexcept = default;
    CThreadOwner& operator=(CThreadOwner&&) noexcept = default;

    // Runs body() (DWORD, its exit code) on a new thread; flags as for
    // CreateThread (CREATE_SUSPENDED). 0, ERROR_ALREADY_EXISTS while a
    // thread is owned, or why it could not start (also the last error).
    template <typename TBody>
    DWORD Start(TBody body, DWORD flags = 0) noexcept
    {
        CBody* start = nullptr;
        try
        {
            start = new (std::nothrow) CBodyOf<TBody>(std::move(body));
        }
        catch (...)
        {
        }
        return Launch(start, flags);
    }

    template <typename T>
    DWORD Start(T* object, DWORD (T::*method)(), DWORD flags = 0) noexcept
    {
        return Start([object, method]() { return (object->*method)(); }, flags);
    }

    // Waits up to boundMs. True when the thread has ended (or none is
    // owned); its handle is closed. False when it runs on: it lingers, and
    // the owner keeps it for a later Join.
    bool Join(DWORD boundMs) noexcept;
    // Gives up a lingering thread: it ends by itself, unobserved.
    void Detach() noexcept;
    DWORD Resume() noexcept;

    // A thread was started and not joined (lingering included).
    bool Owns() const noexcept { return m_thread.IsValid(); }
    bool Lingering() const noexcept { return m_lingering; }
    // Owned and not ended yet.
    bool Running() const noexcept;
    HANDLE Handle() const noexcept { return m_thread.Get(); }
    DWORD ThreadId() const noexcept { return m_threadId; }

private:
    struct CBody
    {
        virtual ~CBody() = default;
        virtual DWORD Run() = 0;
    };

    template <typename TBody>
    struct CBodyOf final : CBody
    {
        explicit CBodyOf(TBody&& body) : m_body(std::move(body)) {}
        DWORD Run() override { return m_body(); }
        TBody m_body;
    };

    // Takes start (null: out of memory) whatever happens.
    DWORD Launch(CBody* start, DWORD flags) noexcept;
    static DWORD WINAPI Thunk(LPVOID param) noexcept;

    CHandle m_thread;
    DWORD m_threadId = 0;
    bool m_lingering = false;
};

} // namespace Common
