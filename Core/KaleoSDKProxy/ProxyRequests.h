#pragma once
// The two request entries of the library: Invoke (UTF-16 JSON in and out)
// and the older action entry (8-bit JSON with a numeric "Action"). Both
// answer every failure in their response; neither throws.
#include <windows.h>

// Allocator the host may give for the action entry's results.
using ProxyAllocator = void* (*)(unsigned long long bytes);

// Invoke: stores a response allocated with CoTaskMemAlloc through response
// and returns its Win32 code. A null response pointer gets 87 and nothing
// written.
DWORD ProxyInvoke(const wchar_t* request, wchar_t** response) noexcept;

// The action entry. With wantResult, the serialised result from the
// allocator (or malloc without one), null when no memory was obtained.
char* ProxyAction(const char* text, bool wantResult) noexcept;

void ProxySetAllocator(ProxyAllocator allocator) noexcept;
