#pragma once
// The two in-process locks the product uses, named for what they are. Both
// meet the Lockable requirements (std::lock_guard, std::unique_lock).
#include <windows.h>

namespace Common
{

// Exclusive slim reader/writer lock: small, never allocates, and NOT
// recursive: a second lock() by the owning thread deadlocks, and try_lock()
// by it fails. For short sections that call nothing that could lock again.
class CSrwLock
{
public:
    CSrwLock() noexcept = default;
    CSrwLock(const CSrwLock&) = delete;
    CSrwLock& operator=(const CSrwLock&) = delete;

    void lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
    bool try_lock() noexcept { return ::TryAcquireSRWLockExclusive(&m_lock) != FALSE; }
    void unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }

    class CScopedLock
    {
    public:
        explicit CScopedLock(CSrwLock& lock) noexcept : m_lock(lock) { m_lock.lock(); }
        ~CScopedLock() { m_lock.unlock(); }
        CScopedLock(const CScopedLock&) = delete;
        CScopedLock& operator=(const CScopedLock&) = delete;

    private:
        CSrwLock& m_lock;
    };

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

// A critical section one thread may take again while it holds it: for
// operations that call one another under the same lock.
class CRecursiveLock
{
public:
    CRecursiveLock() noexcept { ::InitializeCriticalSection(&m_section); }
    ~CRecursiveLock() { ::DeleteCriticalSection(&m_section); }
    CRecursiveLock(const CRecursiveLock&) = delete;
    CRecursiveLock& operator=(const CRecursiveLock&) = delete;

    void lock() noexcept { ::EnterCriticalSection(&m_section); }
    bool try_lock() noexcept { return ::TryEnterCriticalSection(&m_section) != 0; }
    void unlock() noexcept { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

} // namespace Common
