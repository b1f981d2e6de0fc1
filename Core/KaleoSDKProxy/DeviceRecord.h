#pragma once
// One device known to the proxy. The device manager fills the identity
// fields; an attached device also carries the state of its attachment.
#include <windows.h>
#include <memory>
#include <string>

#include "Handles.h"

struct DeviceRecord
{
    std::wstring devicePath;  // upper case
    std::wstring pluginPath;  // InstallPath\bin\<catalogue "file">
    std::wstring objectName;  // instance text; the device mutex is "Global\" + this
    GUID containerGuid = {};
    std::wstring containerId; // as published ("ContainerId"); empty for other sources
    std::wstring pipeName;    // the device's data pipe
    DWORD pid = 0;

    // State of an attached device, shared by every copy of its record. Null
    // in the device manager's table.
    struct _ATTACHMENT
    {
        Common::CHandle readerThread;
        Common::CHandle pipeHandle;
        Common::CHandle shutdownEvent; // manual reset; set to stop the reader
        Common::CHandle deviceMutex;
        volatile LONG shutdownFlag = 0;
        volatile LONG enabled = 0;
    };
    std::shared_ptr<_ATTACHMENT> attachment;
};
