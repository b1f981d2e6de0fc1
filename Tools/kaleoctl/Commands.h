#pragma once
// The operator tool's commands. Each takes the arguments after its name and
// returns the process exit code.
#include <cstddef>
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
int CmdDevices(const CArgs& args);
int CmdPipe(const CArgs& args);
int CmdNetDev(const CArgs& args);
int CmdStatus(const CArgs& args);

// A command with subcommands: each word and the function that runs it with
// the arguments after the word.
struct CSubcommand
{
    const wchar_t* name;
    int (*run)(CArgs&);
};
// Runs the subcommand args[0] names; prints the usage and returns 2 when
// none does.
template <size_t N>
int RunSubcommand(const CArgs& args, const CSubcommand (&table)[N], const wchar_t* usage);

// Small argument helpers shared by the commands.
bool TakeFlag(CArgs& args, const wchar_t* name);
bool TakeOption(CArgs& args, const wchar_t* name, std::wstring& value);
// A whole text as a number: decimal, or hex after 0x when allowed. False
// for anything else (blanks, signs, trailing text, above 0xFFFFFFFF), so a
// mistyped option is refused instead of read as 0.
bool ParseNumber(const std::wstring& text, unsigned long& value, bool allowHex = false);
// The same for the whole 64-bit range.
bool ParseNumber64(const std::wstring& text, unsigned long long& value, bool allowHex = false);
// The same, also refusing values outside min..max.
bool ParseNumber(const std::wstring& text, unsigned long& value, unsigned long min, unsigned long max,
                 bool allowHex = false);

void PrintUsage(const wchar_t* usage);

template <size_t N>
int RunSubcommand(const CArgs& args, const CSubcommand (&table)[N], const wchar_t* usage)
{
    if (!args.empty())
        for (const CSubcommand& subcommand : table)
            if (args[0] == subcommand.name)
            {
                CArgs rest(args.begin() + 1, args.end());
                return subcommand.run(rest);
            }
    PrintUsage(usage);
    return 2;
}
