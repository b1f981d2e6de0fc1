#pragma once
// The host's stop request, shared by the control pipe and the console: Ctrl+C,
// Ctrl+Break and closing the console all lead to the same clean stop on the
// main thread.
#include <windows.h>

namespace Host
{

// Creates the events and installs the console handler.
DWORD InstallStopSignal();
// Removes the console handler again.
void RemoveStopSignal();

// Set once a stop was requested.
HANDLE StopRequestedEvent();
// Asks for the stop; the first request is reported with its reason.
void RequestStop(const wchar_t* reason);
// The main thread finished the stop: modules stopped and unloaded.
void SignalStopFinished();

} // namespace Host
