#pragma once
// Small owners for Win32 resources. Every handle, key, view and module the
// product holds lives in one of these, so no path can leave one open.
#include <windows.h>
#include <utility>

namespace Common
{

// Move-only owner; Traits supplies the empty value, the validity test and
// the release call.
template <typename Traits>
class CUniqueResource
{
public:
    using Type = typename Traits::Type;

    CUniqueResource() noexcept : m_value(Traits::Empty()) {}
    explicit CUniqueResource(Type value) noexcept : m_value(value) {}
    ~CUniqueResource() { Reset(); }

    CUniqueResource(const CUniqueResource&) = delete;
    CUniqueResource& operator=(const CUniqueResource&) = delete;
    CUniqueResource(CUniqueResource&& other) noexcept : m_value(other.Release()) {}
    CUniqueResource& operator=(CUniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Type Get() const noexcept { return m_value; }
    bool IsValid() const noexcept { return Traits::IsValid(m_value); }
    explicit operator bool() const noexcept { return IsValid(); }

    Type Release() noexcept
    {
        Type value = m_value;
        m_value = Traits::Empty();
        return value;
    }

    void Reset(Type value = Traits::Empty()) noexcept
    {
        if (Traits::IsValid(m_value) && m_value != value)
            Traits::Close(m_value);
        m_value = value;
    }

    // For out-parameters: releases what is held and hands out the slot.
    Type* Put() noexcept
    {
        Reset();
        return &m_value;
    }

private:
    Type m_value;
};

// Kernel handles. Both null and INVALID_HANDLE_VALUE count as empty, since
// Win32 uses either depending on the call.
struct HandleTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};

struct RegKeyTraits
{
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::RegCloseKey(h); }
};

struct MappedViewTraits
{
    using Type = void*;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::UnmapViewOfFile(p); }
};

struct ModuleTraits
{
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};

struct LocalMemTraits
{
    using Type = HLOCAL;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::LocalFree(h); }
};

struct SidTraits
{
    using Type = PSID;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::FreeSid(h); }
};

struct ThreadpoolTraits
{
    using Type = PTP_POOL;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type p) noexcept { return p != nullptr; }
    static void Close(Type p) noexcept { ::CloseThreadpool(p); }
};

// Closing a timer does not wait for a running callback: wait first.
struct ThreadpoolTimerTraits
{
    using Type = PTP_TIMER;
    static Type Empty() noexcept { return nullptr; }
    static bool IsValid(Type t) noexcept { return t != nullptr; }
    static void Close(Type t) noexcept { ::CloseThreadpoolTimer(t); }
};

// A search of FindFirstFile: its "none" is INVALID_HANDLE_VALUE, closed by FindClose.
struct FindTraits
{
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Type h) noexcept { return h != INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};

using CHandle = CUniqueResource<HandleTraits>;
using CFindHandle = CUniqueResource<FindTraits>;
using CRegKey = CUniqueResource<RegKeyTraits>;
using CMappedView = CUniqueResource<MappedViewTraits>;
using CModule = CUniqueResource<ModuleTraits>;
using CLocalMem = CUniqueResource<LocalMemTraits>;
using CSid = CUniqueResource<SidTraits>;
using CThreadpool = CUniqueResource<ThreadpoolTraits>;
using CThreadpoolTimer = CUniqueResource<ThreadpoolTimerTraits>;

} // namespace Common
