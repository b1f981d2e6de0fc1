#pragma once
// The two in-process locks the product uses, named for what they are, and
// the one scoped form every section takes them with: Lock::CScopedLock.
#include <windows.h>

namespace Common
{

// Holds a lock for the lifetime of the scope.
template <typename TLock>
class CLockScope
{
public:
    explicit CLockScope(TLock& lock) noexcept : m_lock(lock) { m_lock.lock(); }
    ~CLockScope() { m_lock.unlock(); }
    CLockScope(const CLockScope&) = delete;
    CLockScope& operator=(const CLockScope&) = delete;

private:
    TLock& m_lock;
};

// Holds a lock shared (readers only) for the lifetime of the scope.
template <typename TLock>
class CSharedLockScope
{
public:
    explicit CSharedLockScope(TLock& lock) noexcept : m_lock(lock) { m_lock.lock_shared(); }
    ~CSharedLockScope() { m_lock.unlock_shared(); }
    CSharedLockScope(const CSharedLockScope&) = delete;
    CSharedLockScope& operator=(const CSharedLockScope&) = delete;

private:
    TLock& m_lock;
};

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
    // Readers that may share the lock with one another.
    void lock_shared() noexcept { ::AcquireSRWLockShared(&m_lock); }
    void unlock_shared() noexcept { ::ReleaseSRWLockShared(&m_lock); }

    // For a condition variable's sleep, which releases and retakes the lock.
    PSRWLOCK Native() noexcept { return &m_lock; }

    using CScopedLock = CLockScope<CSrwLock>;
    using CSharedLock = CSharedLockScope<CSrwLock>;

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

    using CScopedLock = CLockScope<CRecursiveLock>;

private:
    CRITICAL_SECTION m_section;
};

} // namespace Common
