#pragma once
// One device known to the proxy. The device manager fills the identity
// fields; an attached device also carries the state of its attachment.
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>

#include "Handles.h"
#include "MutexKeeper.h"
#include "ThreadOwner.h"

struct DeviceRecord
{
    std::wstring devicePath;  // upper case
    std::wstring pluginPath;  // InstallPath\bin\<catalogue "file">
    std::wstring objectName;  // instance text; the device mutex is "Global\" + this
    GUID containerGuid = {};
    std::wstring containerId; // as published ("ContainerId"); empty for other sources
    std::wstring pipeName;    // the device's data pipe
    DWORD pid = 0;

    // State of an attached device, shared by every copy of its record and
    // by the device's reader thread, which keeps it alive until it ends:
    // a detach can erase the record while the reader still finishes. Null
    // in the device manager's table.
    struct _ATTACHMENT
    {
        Common::CThreadOwner readerThread; // taken by the detach that waits for it
        Common::CHandle shutdownEvent; // manual reset; set to stop the reader
        CKeptMutex deviceMutex;        // "Global\" + objectName, held by the mutex keeper
        // The pipe instance the reader serves. The reader owns and releases
        // it once it has stopped reading; this copy is for the logs.
        std::atomic<HANDLE> pipeHandle{nullptr};
        std::atomic<LONG> shutdownFlag{0};
        std::atomic<LONG> enabled{0};
    };
    std::shared_ptr<_ATTACHMENT> attachment;
};
