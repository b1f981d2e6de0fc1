#pragma once
// The operator tool's stand-in of the client library that apps carry: the two
// ways to ask the app manager for a (un)registration, the app's running
// marker, and a bounded copy of the shared app table to see the effect.
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "AppData.h"
#include "Handles.h"
#include "RegisterData.h"

namespace AppClient
{

// Sends one block as one message over the control pipe. Waits for a free
// pipe instance until timeoutMs has passed; when no pipe exists at all for
// kPipeAbsentMs on end, gives up early with ERROR_FILE_NOT_FOUND. Returns
// once the module has read the block (the pipe sends no answer): 0 or the
// Win32 error.
constexpr DWORD kPipeAbsentMs = 2000;
DWORD SendPipeBlock(const _REGISTERDATATYPE& block, DWORD timeoutMs);
// The same for a message of any size; for tests of the module's checks.
DWORD SendPipeMessage(const void* data, DWORD size, DWORD timeoutMs);

// Writes {processId, request} into the request ring (opened, or created and
// zeroed), advances its write index and pulses the wake-up event. Writers of
// this tool take a global lock around the slot write, so apps that register
// at the same moment do not share a slot. *slot receives the slot written.
DWORD SendRingRequest(DWORD processId, DWORD request, DWORD timeoutMs, DWORD* slot = nullptr);

// Creates (or opens) an app's running marker (PriorityList::MarkerName) the
// way apps do: global-object security, initial owner.
DWORD CreateMarker(const std::wstring& name, Common::CHandle& marker);

// File name of a process's image; empty with the last error set on failure.
std::wstring ProcessFileName(DWORD processId);

// A copy of the shared app table, bounded: the count as found, the rows it
// may address (0..50) and the names cut at their field.
struct CTableRow
{
    int index = 0;
    DWORD dwProcessId = 0;
    std::wstring name;
};

struct CTableSnapshot
{
    int32_t rawCount = 0;   // as found in the section
    bool countInRange = true;
    DWORD dwActiveProcessId = 0;
    std::vector<CTableRow> rows;
};

// 0, ERROR_FILE_NOT_FOUND without the section, or the Win32 error.
DWORD ReadTable(CTableSnapshot& out);
// Rows listing processId.
int CountRows(const CTableSnapshot& table, DWORD processId);

} // namespace AppClient
