// The device side's view: "kaleoctl device" reads and unscrambles what the
// module writes, in every ring, and survives hostile ring content.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AppManager.h"
#include "EffectRingTestView.h"
#include "EffectRings.h"
#include "TestEnv.h"

using namespace EffectTest;
using namespace TestEnv;

namespace
{
class EffectRingDeviceSide : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(Common::KALEO_APPS_KEY);
        RegWriteString(Common::KALEO_APPS_KEY, L"PriorityList", L"");
    }

    void StartDevice(const std::wstring& args)
    {
        ASSERT_TRUE(m_device.Start(BinDir() + L"\\kaleoctl.exe", L"device " + args, m_dir / L"device.txt"));
        ASSERT_TRUE(WaitFor([&] { return Output().find("ready") != std::string::npos; }, 30000))
            << "device stand-in did not come up: " << Output();
    }
    std::string Output()
    {
        const std::vector<BYTE> data = ReadFileBytes(m_dir / L"device.txt");
        return std::string(data.begin(), data.end());
    }

    CInstallFixture m_install;
    CScratchDir m_dir;
    CChildProcess m_device;
};
} // namespace

TEST_F(EffectRingDeviceSide, DecodesEveryRecordInEveryRing)
{
    RegWriteDword(AppKey(L"game.exe"), L"DevicesSupported", 0xBF);
    constexpr int kRecords = 8 + 6 + 2;
    StartDevice(L"--models --count " + std::to_wstring(kRecords) + L" --for 30000");

    const ULONGLONG before = ::GetTickCount64();
    auto manager = std::make_unique<CAppManager>();
    manager->SetGlobalEffect(Common::EFFECT_OWNED_A, L"game.exe");
    // Records with content, so unscrambling is checked byte by byte.
    CKaleoKeyboardData keyboard;
    CKaleoKeyboardData::_DATATYPE keys{};
    keys.dwDeviceCode = Effects::CODE_KEYBOARD;
    keys.dwEffect = 99;
    for (size_t i = 0; i < sizeof(keys.keys); ++i)
        keys.keys[i] = static_cast<uint8_t>(i * 13 + 1);
    auto general = std::make_unique<CKaleoData>();
    auto data = std::make_unique<CKaleoData::_DATATYPE>();
    data->dwDeviceCode = Effects::CODE_GENERAL;
    data->dwEffect = 98;
    for (size_t i = 0; i < sizeof(data->data); ++i)
        data->data[i] = static_cast<uint8_t>(i * 5 + 2);
    data->data2[3] = 0x42;
    data->reserved2[1000] = 0x17;
    ::Sleep(50);  // a later tick count, so the slot reads as new even after a lap
    ASSERT_EQ(0u, keyboard.WriteRecord(keys));
    ASSERT_EQ(0u, general->WriteRecord(*data));
    const ULONGLONG after = ::GetTickCount64();

    ASSERT_EQ(0u, m_device.Wait(30000)) << Output();
    const std::vector<CPrinted> records = ParseRecords(Output());
    ASSERT_EQ(static_cast<size_t>(kRecords), records.size()) << Output();

    std::map<std::string, std::vector<CPrinted>> byRing;
    for (const CPrinted& r : records)
    {
        EXPECT_GE(r.tick, before) << r.ring;
        EXPECT_LE(r.tick, after) << r.ring;
        byRing[r.ring].push_back(r);
    }
    for (const Effects::CRingLayout* layout : Effects::EFFECT_RINGS)
    {
        const std::string label = Narrow(layout->label);
        const std::vector<CPrinted>& seen = byRing[label];
        ASSERT_FALSE(seen.empty()) << label << " record not seen";
        EXPECT_EQ(layout->deviceCode, seen[0].code) << label;
        EXPECT_EQ(14u, seen[0].effect) << label;
        EXPECT_EQ(0u, seen[0].slot) << label;
        EXPECT_EQ(EffectRecordSum(*layout, layout->deviceCode, 14), seen[0].sum) << label << " decoded wrong";
    }
    for (DWORD i = 0; i < Effects::MODEL_RING_COUNT; ++i)
    {
        const std::string label = "model" + std::to_string(i + 1);
        ASSERT_EQ(1u, byRing[label].size()) << label;
        EXPECT_EQ(Effects::MODEL_RINGS[i].deviceCode, byRing[label][0].code) << label;
        EXPECT_EQ(14u, byRing[label][0].effect) << label;
    }
    ASSERT_EQ(2u, byRing["keyboard"].size());
    EXPECT_EQ(99u, byRing["keyboard"][1].effect);
    EXPECT_EQ(1u, byRing["keyboard"][1].slot);
    EXPECT_EQ(RecordChecksum(&keys, sizeof(keys)), byRing["keyboard"][1].sum) << "keyboard content decoded wrong";
    ASSERT_EQ(2u, byRing["general"].size());
    EXPECT_EQ(RecordChecksum(data.get(), sizeof(*data)), byRing["general"][1].sum) << "general content decoded wrong";
}

TEST_F(EffectRingDeviceSide, HostileWriteIndexDoesNotStopTheReader)
{
    StartDevice(L"--count 3 --for 30000");
    CKaleoKeyboardData keyboard;
    CKaleoMouseData mouse;
    ASSERT_EQ(0u, keyboard.WriteEffect(14));
    ASSERT_TRUE(WaitFor([&] { return ParseRecords(Output()).size() == 1; }, 10000)) << Output();

    CRingView keyboardView;
    CRingView mouseView;
    ASSERT_TRUE(keyboardView.Open(Effects::KEYBOARD_RING.sectionName, Effects::KEYBOARD_RING.sectionSize));
    ASSERT_TRUE(mouseView.Open(Effects::MOUSE_RING.sectionName, Effects::MOUSE_RING.sectionSize));
    keyboardView.WriteIndex() = 0xFFFFFFFF;
    mouseView.WriteIndex() = 10;
    // Garbage in a slot the reader must not take for a record.
    std::memset(mouseView.Slot(5, Effects::MOUSE_RING.slotSize), 0xEE, Effects::MOUSE_RING.slotSize);
    ::Sleep(100);  // the reader sees the hostile indexes
    ASSERT_EQ(0u, keyboard.WriteEffect(16));
    ASSERT_EQ(0u, mouse.WriteEffect(16));

    ASSERT_EQ(0u, m_device.Wait(30000)) << "reader crashed or hung: " << Output();
    const std::vector<CPrinted> records = ParseRecords(Output());
    ASSERT_EQ(3u, records.size()) << Output();
    EXPECT_EQ("keyboard", records[1].ring);
    EXPECT_EQ(16u, records[1].effect);
    EXPECT_EQ(0u, records[1].slot);
    EXPECT_EQ("mouse", records[2].ring);
    EXPECT_EQ(16u, records[2].effect);
    EXPECT_EQ(0u, records[2].slot);
    EXPECT_NE(std::string::npos, Output().find("out of range")) << Output();
}
