#pragma once
// Module-wide state of the app-manager module behind its exports.
#include "AppManager.h"
#include "ServiceModule.h"

int AppManagerModuleInit(int context) noexcept;
int AppManagerModuleEvent(int eventCode) noexcept;
int AppManagerModuleUnInit(int context) noexcept;
// The running manager, or null; for diagnostics and tests.
CAppManager* AppManagerModuleManager() noexcept;
