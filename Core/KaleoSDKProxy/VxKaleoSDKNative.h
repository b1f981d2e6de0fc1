#pragma once
// What the exports do, kept out of the DLL so the tests can drive it in
// process. One native instance per process; the exports are called from
// the host's one thread.
#include <windows.h>

#include "DeviceHandle.h"

// Creates the native instance when there is none and starts its device
// manager: the number of devices found, or -1.
int ProxyInit() noexcept;
// Cleans up and destroys the native instance: its result, or 1627 without
// an instance.
int ProxyUnInit() noexcept;
// Detaches a device: 1627 without an instance, else the detach's result.
DWORD ProxyRemoveDevice(DEVICE_HANDLE deviceHandle) noexcept;
// Library unload. At process exit the instance is left to the system: its
// threads are gone and waiting for them would hang.
void ProxyProcessDetach(bool processExit) noexcept;

// Debugger output: printf-style into 508 characters, then "\r\n". The
// level is accepted for the callers' sake and not used.
void DebugPrint(int level, const char* format, ...) noexcept;
