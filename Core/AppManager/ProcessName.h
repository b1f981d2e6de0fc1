#pragma once
// Names of processes and executables.
#include <windows.h>
#include <string>

#include "Handles.h"
#include "PathText.h"

// The file name part of a full path (text after the last separator).
using Common::FileNamePart;

// Full image path of a process opened with `access` (which includes
// PROCESS_QUERY_LIMITED_INFORMATION); false with the last error set.
bool QueryProcessImage(HANDLE process, std::wstring& path);

// Copies text into a fixed field of `chars` characters: cut to chars - 1,
// terminated, the rest of the field zeroed.
void CopyToField(wchar_t* field, size_t chars, const std::wstring& text);

// A string field that another process filled: up to its first NUL or the
// field's end, never beyond.
std::wstring FieldText(const wchar_t* field, size_t chars);

// The process opened for watching (SYNCHRONIZE and
// PROCESS_QUERY_LIMITED_INFORMATION) while it still runs; empty otherwise,
// with the last error set.
Common::CHandle OpenLiveProcess(DWORD processId);

// True while the process runs. Opening a process id is not enough: the
// object of an exited process stays openable while anyone holds a handle.
bool IsProcessAlive(DWORD processId);
