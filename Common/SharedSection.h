#pragma once
// One owner for a named, page-file-backed section and its view: the handle
// and the view live and die together, and every way of attaching (open an
// existing one, create it, open or create) goes through here.
//
// A section this process creates comes zero-filled from the system and is
// not filled again: another process may open it the moment it exists and
// write into it.
#include <windows.h>
#include <cstddef>

#include "Handles.h"

namespace Common
{

class CSharedSection
{
public:
    CSharedSection() = default;
    CSharedSection(const CSharedSection&) = delete;
    CSharedSection& operator=(const CSharedSection&) = delete;
    CSharedSection(CSharedSection&&) = default;
    CSharedSection& operator=(CSharedSection&&) = default;

    // Opens an existing section and maps `size` bytes with `access`
    // (FILE_MAP_READ or FILE_MAP_ALL_ACCESS). 0 or the Win32 error; after a
    // failed map the handle is kept, and MapView() may try again.
    DWORD Open(const wchar_t* name, DWORD size, DWORD access = FILE_MAP_ALL_ACCESS);
    // Creates the section (Everyone full access; default security when that
    // cannot be built) or takes the existing one, and maps it read-write.
    // `created` tells whether this call made it.
    DWORD Create(const wchar_t* name, DWORD size, bool* created = nullptr);
    // Open, and Create when the section does not exist.
    DWORD OpenOrCreate(const wchar_t* name, DWORD size, bool* created = nullptr);
    // Maps the held handle again after a failed map.
    DWORD MapView();
    void Reset();

    bool HasHandle() const { return m_mapping.IsValid(); }
    bool IsMapped() const { return m_view.IsValid(); }
    void* View() const { return m_view.Get(); }
    template <typename T>
    T* As() const
    {
        return static_cast<T*>(m_view.Get());
    }
    DWORD Size() const { return m_size; }

private:
    CHandle m_mapping;
    CMappedView m_view;
    DWORD m_size = 0;
    DWORD m_access = FILE_MAP_ALL_ACCESS;
};

// True when the view really spans `size` committed bytes. Mapping more than
// a section holds normally fails already; this also catches a section that
// another process created smaller than the layout, wherever the mapping
// call is lenient about it.
bool ViewCovers(const void* view, size_t size) noexcept;

} // namespace Common
