#pragma once
// Handles appear in the log lines as the numbers the host's tools show.
#include <windows.h>

inline int HandleValue(HANDLE h) noexcept
{
    return static_cast<int>(reinterpret_cast<INT_PTR>(h));
}
