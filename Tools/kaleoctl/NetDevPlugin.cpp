// kaleoctl netdev plugin: the rules of the sample plug-ins' control file,
// one line per device. A new rule for a device replaces the old one; the
// other lines, including ones the plug-ins would ignore, stay as they are.
#include <windows.h>
#include <string>
#include <vector>

#include "BoundedFile.h"
#include "Console.h"
#include "NetDev.h"
#include "NetDevFiles.h"
#include "PluginControl.h"
#include "PluginFiles.h"
#include "PluginText.h"
#include "Registry.h"
#include "TextCodec.h"

namespace
{

bool IsIdentifier(const std::wstring& id)
{
    if (id.empty() || id.size() > Common::REG_TEXT_MAX_CHARS)
        return false;
    for (wchar_t c : id)
    {
        if (c <= L' ' || c == 0x7F)
            return false;
    }
    return true;
}

// The control file's lines except those naming `id`. A missing file has
// none; one too large to be a control file is an error.
bool OtherRules(const std::wstring& path, const std::wstring& id, std::string& kept)
{
    std::vector<char> bytes;
    const DWORD rc = Common::ReadBoundedFile(path, PluginFiles::CONTROL_MAX_BYTES, bytes);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_INVALID_DATA)
        return true;
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev plugin: cannot read %s (%lu)\n", path.c_str(), rc);
        return false;
    }
    for (const std::string& line : PluginText::SplitLines(std::string(bytes.begin(), bytes.end())))
    {
        PluginControl::CControlLine rule;
        if (PluginControl::ParseControlLine(line, rule) && Common::EqualsNoCase(rule.identifier, id))
            continue;
        kept += line + "\r\n";
    }
    return true;
}

int Clear(const std::wstring& path)
{
    if (!::DeleteFileW(path.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        Console::Error(L"netdev plugin: cannot delete %s (%lu)\n", path.c_str(), ::GetLastError());
        return 1;
    }
    Console::Print(L"plugin: no rules: every device is accepted at once\n");
    return 0;
}

} // namespace

namespace NetDev
{

int Plugin(CArgs& args)
{
    std::wstring id, resultText, delayText;
    const bool clear = TakeFlag(args, L"--clear");
    const bool haveId = TakeOption(args, L"--id", id);
    const bool haveResult = TakeOption(args, L"--result", resultText);
    const bool haveDelay = TakeOption(args, L"--delay", delayText);
    if (!NoMoreArgs(args, L"plugin"))
        return 2;
    int32_t result = 0;
    unsigned long delay = 0;
    if (clear ? (haveId || haveResult || haveDelay)
              : (!IsIdentifier(id) || !ParseInt32(resultText, result) ||
                 (haveDelay && !ParseNumber(delayText, delay, 0, PluginFiles::MAX_INIT_DELAY_MS))))
    {
        Console::Error(L"netdev plugin: give --id ID (no blanks) --result N (signed 32-bit) [--delay MS (0 to %lu)], "
                       L"or --clear alone\n",
                       static_cast<unsigned long>(PluginFiles::MAX_INIT_DELAY_MS));
        return 2;
    }
    std::wstring installPath;
    if (!InstallPathOrSay(L"plugin", installPath))
        return 1;
    const std::wstring path = installPath + L"\\" + PluginFiles::CONTROL_FILE;
    if (clear)
        return Clear(path);

    std::string text;
    if (!OtherRules(path, id, text))
        return 1;
    std::string rule = TextCodec::WideToUtf8Lenient(id) + " " + std::to_string(result);
    if (haveDelay)
        rule += " " + std::to_string(delay);
    text += rule + "\r\n";
    if (text.size() > PluginFiles::CONTROL_MAX_BYTES)
    {
        Console::Error(L"netdev plugin: %s would exceed the %lu bytes the plug-ins read; use --clear first\n",
                       path.c_str(), static_cast<unsigned long>(PluginFiles::CONTROL_MAX_BYTES));
        return 1;
    }
    const DWORD rc = NetDevFiles::WriteFileReplacing(path, text);
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev plugin: cannot write %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    Console::Print(L"plugin: %s: Init answers %ld after %lu ms\n", id.c_str(), static_cast<long>(result), delay);
    return 0;
}

} // namespace NetDev
