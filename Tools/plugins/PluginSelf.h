#pragma once
// Where this plug-in copy was loaded from. A device manager loads each copy
// from InstallPath\bin, so the install folder is the parent of the copy's
// folder.
#include <string>

namespace PluginSelf
{

// Full path of the loaded copy (GetModuleFileName of this module); empty
// when it cannot be had.
std::wstring ModulePath();

// The folder two levels above the copy; empty when the path has no such
// folder.
std::wstring InstallPath(const std::wstring& modulePath);

} // namespace PluginSelf
