#pragma once
// kaleoctl status: one screen of the live system, section by section, each
// read only from what the system publishes (the host's control pipe, the
// shared app table, the registry, global objects, files under InstallPath).
// No probe loads a module or waits longer than a moment.
#include <windows.h>
#include <string>
#include <vector>

namespace Status
{

// A section of the screen: its one-line verdict first, then the details.
struct CSection
{
    std::wstring verdict;
    std::vector<std::wstring> details;
    bool healthy = true;

    void Add(const std::wstring& line) { details.push_back(line); }
    void Fault(const std::wstring& line)
    {
        healthy = false;
        details.push_back(line);
    }
};

// The host answers within this; a hung or dead one shows as such.
constexpr DWORD kHostProbeMs = 1000;
// Lines of a section's list shown before "... and N more".
constexpr size_t kMaxListed = 12;

CSection HostSection(const std::wstring& hostName);
CSection AppsSection();
CSection DevicesSection();
CSection NetDevSection();
CSection LogSection();

// A text from another process, fit for one line of the screen: control
// characters shown as '?', cut at maxChars.
std::wstring Printable(const std::wstring& text, size_t maxChars = 200);

} // namespace Status
