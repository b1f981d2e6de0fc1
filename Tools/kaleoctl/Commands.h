#pragma once
// The operator tool's commands. Each takes the arguments after its name and
// returns the process exit code.
#include <string>
#include <vector>

using CArgs = std::vector<std::wstring>;

int CmdInstall(const CArgs& args);
int CmdUninstall(const CArgs& args);
int CmdLog(const CArgs& args);
int CmdRegistry(const CArgs& args);
int CmdHost(const CArgs& args);
int CmdApp(const CArgs& args);
int CmdTable(const CArgs& args);
int CmdApps(const CArgs& args);
int CmdDevice(const CArgs& args);

// Small argument helpers shared by the commands.
bool TakeFlag(CArgs& args, const wchar_t* name);
bool TakeOption(CArgs& args, const wchar_t* name, std::wstring& value);
