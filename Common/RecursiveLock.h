#pragma once
// A lock one thread may take again while it holds it: used where the
// operations it guards call one another.
#include <windows.h>

namespace Common
{

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
