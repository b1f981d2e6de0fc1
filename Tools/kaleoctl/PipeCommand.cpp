// kaleoctl pipe: dispatch of the actions and the target they write to,
// given as a pipe name or as the handle of a published device, whose pipe
// is then derived as the proxy derives it.
#include <windows.h>
#include <cwchar>

#include "Console.h"
#include "DeviceScan.h"
#include "Pipe.h"
#include "PipeMessages.h"

namespace
{

const wchar_t kUsage[] =
    L"usage: kaleoctl pipe send (--name PIPE | --handle H) MESSAGE [--connections K] [--wait MS]\n"
    L"       kaleoctl pipe flood (--name PIPE | --handle H) [--rate N] [--ids N] [--seconds S] [--size BYTES]\n"
    L"                           [--wait MS]\n"
    L"Writes into a device's data pipe as the device side does: each message is one pipe message.\n"
    L"  --name PIPE      the pipe, \\\\.\\pipe\\...\n"
    L"  --handle H       the pipe of the published device whose key (the device handle the host sees) is H,\n"
    L"                   decimal or 0x hex, derived as the proxy derives it (see 'kaleoctl devices list')\n"
    L"  --wait MS        how long to wait for the pipe to exist and be free (default 5000)\n"
    L"  send             writes MESSAGE, one of:\n"
    L"    --message JSON       that text\n"
    L"    --file PATH          one message per non-empty line of the file (UTF-8)\n"
    L"    --oversized BYTES    a lighting event of exactly BYTES bytes (42 to 1048576; the reader takes\n"
    L"                         at most 8191)\n"
    L"    --malformed          a lighting event cut short: not JSON\n"
    L"    --no-event-id        valid JSON without \"eventId\": the reader does not forward it\n"
    L"    --connections K      on each of K connections in turn (default 1); each is closed once the\n"
    L"                         reader has read it, and the reader must offer a new instance for the next\n"
    L"  flood            writes lighting events {\"eventId\":2,\"linkDeviceSeqId\":n mod N,\"seq\":n,\"ts\":T}\n"
    L"                   for S seconds on one connection; T is the QueryPerformanceCounter value when\n"
    L"                   the message was made, for a reader that measures latency\n"
    L"    --rate N             messages per second, 0 = as fast as the reader takes them (default 100)\n"
    L"    --ids N              the number of linkDeviceSeqId values cycled through (default 1)\n"
    L"    --seconds S          (1 to 3600, default 1)\n"
    L"    --size BYTES         each message padded to exactly BYTES bytes (default: not padded)\n"
    L"Exit codes: 0 done, 1 failed, 2 usage.\n";

// Pipe names are at most 256 characters, and this tool writes only to
// pipes of this machine.
constexpr wchar_t kLocalPipePrefix[] = L"\\\\.\\pipe\\";
constexpr size_t kMaxPipeNameChars = 256;
constexpr unsigned long kMaxWaitMs = 600000;

struct CAction
{
    const wchar_t* name;
    int (*run)(CArgs&, const PipeCmd::CTarget&);
};

const CAction kActions[] = {
    {L"send", PipeCmd::Send},
    {L"flood", PipeCmd::Flood},
};

bool IsLocalPipeName(const std::wstring& name)
{
    const size_t prefix = sizeof(kLocalPipePrefix) / sizeof(wchar_t) - 1;
    return name.size() > prefix && name.size() <= kMaxPipeNameChars &&
           _wcsnicmp(name.c_str(), kLocalPipePrefix, prefix) == 0;
}

int TakeTarget(CArgs& args, PipeCmd::CTarget& target)
{
    std::wstring name, handle;
    const bool byName = TakeOption(args, L"--name", name);
    const bool byHandle = TakeOption(args, L"--handle", handle);
    unsigned long waitMs = target.dwWaitMs;
    if (!PipeCmd::TakeBounded(args, L"--wait", 0, kMaxWaitMs, waitMs))
        return 2;
    target.dwWaitMs = static_cast<DWORD>(waitMs);
    if (byName == byHandle)
    {
        Console::Err(L"pipe: give either --name PIPE or --handle H\n");
        return 2;
    }
    if (byHandle)
    {
        unsigned long key = 0;
        if (!ParseNumber(handle, key, true))
        {
            Console::Error(L"pipe: --handle needs a 32-bit number, not '%s'\n", handle.c_str());
            return 2;
        }
        target.bDevice = true;
        target.dwHandle = static_cast<DWORD>(key);
        return 0;
    }
    if (!IsLocalPipeName(name))
    {
        Console::Error(L"pipe: '%s' is no pipe name of this machine (\\\\.\\pipe\\..., at most %u characters)\n",
                       name.c_str(), static_cast<unsigned>(kMaxPipeNameChars));
        return 2;
    }
    target.name = name;
    return 0;
}

} // namespace

namespace PipeCmd
{

std::wstring Describe(const CTarget& target)
{
    return target.bDevice ? Console::Format(L"%s (device %lu)", target.name.c_str(), target.dwHandle) : target.name;
}

int ResolveTarget(CTarget& target)
{
    if (!target.bDevice)
        return 0;
    Devices::CDeviceView device;
    if (!Devices::FindPublishedDevice(target.dwHandle, device))
    {
        Console::Error(L"pipe: no published device has the key %lu (0x%08lX); 'kaleoctl devices list' shows the "
                       L"keys\n",
                       target.dwHandle, target.dwHandle);
        return 1;
    }
    if (device.pipeName.empty())
    {
        Console::Error(L"pipe: device %lu (%s) has no pipe name\n", target.dwHandle, device.path.c_str());
        return 1;
    }
    if (!device.skipReasons.empty())
        Console::Error(L"pipe: note: a proxy starting now would not add device %lu: %s\n", target.dwHandle,
                       device.skipReasons.c_str());
    target.name = device.pipeName;
    return 0;
}

bool TakeBounded(CArgs& args, const wchar_t* option, unsigned long min, unsigned long max, unsigned long& value,
                 bool* given)
{
    std::wstring text;
    const bool present = TakeOption(args, option, text);
    if (given)
        *given = present;
    if (!present)
        return true;
    if (ParseNumber(text, value, min, max))
        return true;
    Console::Error(L"pipe: %s takes %lu to %lu, not '%s'\n", option, min, max, text.c_str());
    return false;
}

bool NoMoreArgs(const CArgs& args, const wchar_t* action)
{
    if (args.empty())
        return true;
    Console::Error(L"pipe %s: unexpected argument '%s'\n", action, args[0].c_str());
    return false;
}

} // namespace PipeCmd

int CmdPipe(const CArgs& argsIn)
{
    if (!argsIn.empty())
    {
        for (const CAction& action : kActions)
        {
            if (argsIn[0] != action.name)
                continue;
            CArgs args(argsIn.begin() + 1, argsIn.end());
            PipeCmd::CTarget target;
            const int rc = TakeTarget(args, target);
            return rc == 0 ? action.run(args, target) : rc;
        }
    }
    Console::Err(kUsage);
    return 2;
}
