#pragma once
// Module-wide state of the smart-lighting device manager behind its exports.
#include "SmartlightingDeviceManager.h"

int SmartlightingModuleInit(int context) noexcept;
int SmartlightingModuleEvent(int eventCode) noexcept;
int SmartlightingModuleUnInit(int context) noexcept;
// The running manager, or null; for tests.
CSmartlightingDeviceManager* SmartlightingModuleManager() noexcept;
