// kaleoctl status: the sections in reading order, each verdict first, and
// one closing line; the exit code says whether anything needs attention.
#include <windows.h>

#include "Commands.h"
#include "Console.h"
#include "HostControl.h"
#include "Status.h"

namespace Status
{

std::wstring Printable(const std::wstring& text, size_t maxChars)
{
    std::wstring shown;
    for (wchar_t c : text)
    {
        if (shown.size() >= maxChars)
        {
            shown += L"...";
            break;
        }
        shown += (c < L' ' || c == 0x7F) ? L'?' : c;
    }
    return shown;
}

} // namespace Status

namespace
{

constexpr int kExitHealthy = 0;
constexpr int kExitAttention = 1;
constexpr int kExitUsage = 2;

const wchar_t kUsage[] = L"usage: kaleoctl status [--name HOST]   (exit 0 healthy, 1 something needs attention)\n";

std::wstring Render(const Status::CSection& section)
{
    std::wstring text = section.verdict + L"\n";
    for (const std::wstring& line : section.details)
        text += L"  " + line + L"\n";
    return text;
}

} // namespace

int CmdStatus(const CArgs& argsIn)
{
    CArgs args = argsIn;
    std::wstring name;
    TakeOption(args, L"--name", name);
    if (!args.empty() || !Host::IsValidHostName(name))
    {
        Console::Err(kUsage);
        return kExitUsage;
    }
    std::wstring attention;
    // Each section is printed as soon as it is read: a slow probe shows
    // where it is.
    auto show = [&attention](const Status::CSection& section, const wchar_t* title) {
        Console::Out(Render(section));
        if (!section.healthy)
            attention += (attention.empty() ? L"" : L", ") + std::wstring(title);
    };
    show(Status::HostSection(name), L"host");
    show(Status::AppsSection(), L"apps");
    show(Status::DevicesSection(), L"devices");
    show(Status::NetDevSection(), L"network devices");
    show(Status::LogSection(), L"log");
    if (attention.empty())
    {
        Console::Out(L"Status: healthy\n");
        return kExitHealthy;
    }
    Console::Print(L"Status: needs attention (%s)\n", attention.c_str());
    return kExitAttention;
}
