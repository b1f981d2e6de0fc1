// kaleoctl device: a stand-in for the device side of the SDK. It opens the
// effect rings (creating the ones that are absent), waits for their events
// and prints every new record, unscrambled, one line each:
//   record ring=NAME code=0x%08X effect=N tick=N slot=N sum=0x%08X
// A pulse is missed when it comes while we are not waiting, so the rings are
// also looked at every POLL_MS.
#include <windows.h>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "DeviceRingReader.h"
#include "EffectLayout.h"

namespace
{
constexpr DWORD POLL_MS = 20;

bool ParseCount(const std::wstring& text, DWORD& value)
{
    unsigned long parsed = 0;
    if (!ParseNumber(text, parsed, 0, 999999999ul))
        return false;
    value = static_cast<DWORD>(parsed);
    return true;
}

struct COptions
{
    bool models = false;
    DWORD count = 0;           // 0: no limit
    DWORD forMs = INFINITE;
};

bool ParseOptions(CArgs args, COptions& options)
{
    options.models = TakeFlag(args, L"--models");
    std::wstring text;
    if (TakeOption(args, L"--count", text) && !ParseCount(text, options.count))
        return false;
    if (TakeOption(args, L"--for", text) && !ParseCount(text, options.forMs))
        return false;
    return args.empty();
}

std::vector<std::unique_ptr<CDeviceRingReader>> OpenRings(bool models)
{
    std::vector<std::unique_ptr<CDeviceRingReader>> rings;
    for (const Effects::CRingLayout* layout : Effects::EFFECT_RINGS)
        rings.push_back(std::make_unique<CDeviceRingReader>(*layout));
    if (models)
    {
        for (DWORD i = 0; i < Effects::MODEL_RING_COUNT; ++i)
            rings.push_back(std::make_unique<CDeviceRingReader>(Console::Format(L"model%u", i + 1),
                                                                Effects::MODEL_RINGS[i]));
    }
    std::vector<std::unique_ptr<CDeviceRingReader>> opened;
    for (auto& ring : rings)
    {
        const DWORD rc = ring->Open();
        if (rc == ERROR_SUCCESS)
            opened.push_back(std::move(ring));
        else
            Console::Error(L"device: ring %s not available (%u)\n", ring->Label().c_str(), rc);
    }
    return opened;
}
} // namespace

int CmdDevice(const CArgs& args)
{
    COptions options;
    if (!ParseOptions(args, options))
    {
        Console::Err(L"usage: kaleoctl device [--models] [--count N] [--for MS]\n");
        return 2;
    }
    const auto rings = OpenRings(options.models);
    if (rings.empty())
        return 1;
    std::vector<HANDLE> events;
    for (const auto& ring : rings)
        if (ring->Event() && events.size() < MAXIMUM_WAIT_OBJECTS)
            events.push_back(ring->Event());
    Console::Print(L"ready rings=%u\n", static_cast<unsigned>(rings.size()));

    const ULONGLONG start = ::GetTickCount64();
    DWORD printed = 0;
    std::vector<CDeviceRingReader::CRecord> records;
    for (;;)
    {
        ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, POLL_MS);
        for (const auto& ring : rings)
        {
            records.clear();
            ring->Poll(records);
            uint32_t badIndex = 0;
            if (ring->TakeBadIndex(badIndex))
                Console::Error(L"device: ring %s write index %u out of range\n", ring->Label().c_str(), badIndex);
            for (const CDeviceRingReader::CRecord& record : records)
            {
                Console::Print(L"record ring=%s code=0x%08X effect=%u tick=%I64u slot=%u sum=0x%08X\n",
                               ring->Label().c_str(), record.deviceCode, record.effect, record.tickCount,
                               record.slot, record.checksum);
                if (options.count != 0 && ++printed >= options.count)
                    return 0;
            }
        }
        if (options.forMs != INFINITE && ::GetTickCount64() - start >= options.forMs)
        {
            if (options.count == 0)
                return 0;
            Console::Error(L"device: %u of %u records before the time was up\n", printed, options.count);
            return 1;
        }
    }
}
