// kaleoctl netdev show and journal: what the sample plug-ins journalled,
// set against the plug-in copies present in InstallPath\bin. A device is
// attached when an Init answered 0 for its copy and no UnInit of that copy
// came later.
#include <windows.h>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "BoundedFile.h"
#include "Console.h"
#include "Handles.h"
#include "NetDev.h"
#include "NetDevFiles.h"
#include "PathText.h"
#include "PluginFiles.h"
#include "PluginJournalLine.h"
#include "PluginText.h"
#include "TextCodec.h"

using PluginJournal::CJournalEntry;

namespace
{

// The journal grows with every call; past this it is refused, not read.
constexpr DWORD kMaxJournalBytes = 8u * 1024u * 1024u;
// More copies than this in bin are counted, not listed one by one.
constexpr size_t kMaxListedCopies = 1000;

std::wstring Upper(std::wstring text)
{
    if (!text.empty())
        ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Field(const CJournalEntry& entry, const char* key)
{
    return TextCodec::Utf8ToWideLenient(entry.Field(key));
}

// 0 with the journal text (empty when there is none yet), or 1 after
// saying why.
int ReadJournal(const std::wstring& installPath, std::string& text)
{
    const std::wstring path = installPath + L"\\" + PluginFiles::JOURNAL_FILE;
    std::vector<char> bytes;
    const DWORD rc = Common::ReadBoundedFile(path, kMaxJournalBytes, bytes);
    if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_INVALID_DATA)
        return 0;
    if (rc != ERROR_SUCCESS)
    {
        Console::Error(L"netdev: cannot read %s (%lu)\n", path.c_str(), rc);
        return 1;
    }
    text.assign(bytes.begin(), bytes.end());
    return 0;
}

// What the journal says: the attached devices by copy path, and which
// plug-in last wrote about each copy file name.
struct CJournalView
{
    std::map<std::wstring, CJournalEntry> attached;
    std::map<std::wstring, std::string> writers;
};

CJournalView ViewJournal(const std::string& text)
{
    CJournalView view;
    for (CJournalEntry& entry : PluginJournal::ParseJournal(text))
    {
        const std::wstring module = Field(entry, "module");
        if (module.empty())
            continue;
        const std::wstring key = Upper(module);
        view.writers[Upper(Common::FileNamePart(module))] = entry.Field("plugin");
        if (entry.call == PluginFiles::CALL_INIT && entry.Field("result") == "0")
            view.attached[key] = std::move(entry);
        else if (entry.call == PluginFiles::CALL_UNINIT)
            view.attached.erase(key);
    }
    return view;
}

void PrintCopies(const wchar_t* title, const std::vector<std::wstring>& names)
{
    std::wstring list;
    for (size_t i = 0; i < names.size() && i < kMaxListedCopies; ++i)
        list += (i ? L", " : L"") + names[i];
    if (names.size() > kMaxListedCopies)
        list += L", ...";
    Console::Print(L"%s: %lu%s%s%s\n", title, static_cast<unsigned long>(names.size()), list.empty() ? L"" : L" (",
                   list.c_str(), list.empty() ? L"" : L")");
}

std::wstring DeviceText(const NetDev::CModule& module, const CJournalEntry& entry)
{
    if (&module == &NetDev::HueModule())
        return L"id=" + Field(entry, "id") + L" ip=" + Field(entry, "ip") + L" group=" + Field(entry, "group");
    return L"mac=" + Field(entry, "mac") + L" ip=" + Field(entry, "ip");
}

void ShowModule(const NetDev::CModule& module, const CJournalView& view, const std::vector<std::wstring>& copies)
{
    std::vector<const CJournalEntry*> devices;
    for (const auto& attached : view.attached)
    {
        if (attached.second.Field("plugin") == module.pluginName)
            devices.push_back(&attached.second);
    }
    std::stable_sort(devices.begin(), devices.end(), [](const CJournalEntry* a, const CJournalEntry* b) {
        return std::atol(a->Field("index").c_str()) < std::atol(b->Field("index").c_str());
    });
    Console::Print(L"%s: %lu attached\n", module.name, static_cast<unsigned long>(devices.size()));
    for (const CJournalEntry* device : devices)
        Console::Print(L"  [%s] %s  %s\n", Field(*device, "index").c_str(), Common::FileNamePart(Field(*device, "module")).c_str(),
                       DeviceText(module, *device).c_str());

    std::vector<std::wstring> own;
    for (const std::wstring& name : copies)
    {
        const auto writer = view.writers.find(Upper(name));
        if (writer != view.writers.end() && writer->second == module.pluginName)
            own.push_back(name);
    }
    PrintCopies(L"  copies in bin", own);
}

} // namespace

namespace NetDev
{

int Show(CArgs& args)
{
    const CModule* only = nullptr;
    if (!args.empty() && !(only = FindModule(args[0])))
    {
        Console::Error(L"netdev show: no module '%s'; give hue, iot or nothing\n", args[0].c_str());
        return 2;
    }
    if (only)
        args.erase(args.begin());
    if (!NoMoreArgs(args, L"show"))
        return 2;
    std::wstring installPath;
    std::string text;
    if (!InstallPathOrSay(L"show", installPath) || ReadJournal(installPath, text) != 0)
        return 1;

    const CJournalView view = ViewJournal(text);
    const std::vector<std::wstring> copies = NetDevFiles::CopiesInBin(installPath);
    for (const CModule* module : {&HueModule(), &IoTModule()})
    {
        if (!only || only == module)
            ShowModule(*module, view, copies);
    }
    std::vector<std::wstring> unknown;
    for (const std::wstring& name : copies)
    {
        const auto writer = view.writers.find(Upper(name));
        if (writer == view.writers.end() ||
            (writer->second != HueModule().pluginName && writer->second != IoTModule().pluginName))
            unknown.push_back(name);
    }
    PrintCopies(L"unknown copies in bin", unknown);
    return 0;
}

int Journal(CArgs& args)
{
    if (!NoMoreArgs(args, L"journal"))
        return 2;
    std::wstring installPath;
    std::string text;
    if (!InstallPathOrSay(L"journal", installPath) || ReadJournal(installPath, text) != 0)
        return 1;
    for (const std::string& line : PluginText::SplitLines(text))
    {
        std::wstring shown;
        for (wchar_t c : TextCodec::Utf8ToWideLenient(line))
        {
            if (c == L'\t')
                shown += L"  ";
            else
                shown += c < L' ' ? L'?' : c;
        }
        Console::Out(shown + L"\n");
    }
    return 0;
}

} // namespace NetDev
