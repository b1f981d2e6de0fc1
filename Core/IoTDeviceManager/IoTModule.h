#pragma once
// Module-wide state of the IoT device manager behind its exports.
#include "IoTDeviceManager.h"

int IoTModuleInit(int context) noexcept;
int IoTModuleEvent(int eventCode) noexcept;
int IoTModuleUnInit(int context) noexcept;
// The running manager, or null; for tests.
CIoTDeviceManager* IoTModuleManager() noexcept;
