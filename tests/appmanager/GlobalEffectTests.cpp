// SetGlobalEffect: which rings get a record for an app, the events it
// pulses, and the app names it refuses.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "AppManager.h"
#include "EffectRingTestView.h"
#include "TestEnv.h"

using namespace EffectTest;
using namespace TestEnv;

namespace
{
// Counts the pulses of a named event, waiting on it almost all the time.
class CPulseWatcher
{
public:
    explicit CPulseWatcher(const wchar_t* name) : m_event(::CreateEventW(nullptr, TRUE, FALSE, name))
    {
        m_thread = std::thread([this] {
            while (!m_stop)
                if (::WaitForSingleObject(m_event.Get(), 20) == WAIT_OBJECT_0)
                    ++m_pulses;
        });
    }
    ~CPulseWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    int Pulses() const { return m_pulses; }

private:
    Common::CHandle m_event;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_pulses{0};
    std::thread m_thread;
};

struct CDecoded
{
    bool present = false;
    uint32_t index = 0;
    DWORD code = 0;
    DWORD effect = 0;
    uint64_t tick = 0;
    size_t nonZeroPayload = 0;  // after unscrambling, outside header and tick
};

// Slot 0 of a ring as the device side would decode it.
CDecoded ReadSlotZero(const std::wstring& section, DWORD sectionSize, DWORD slotSize, DWORD effectOffset,
                      const Effects::CByteRange* ranges, DWORD rangeCount)
{
    CDecoded out;
    CRingView view;
    if (!view.Open(section, sectionSize))
        return out;
    out.present = true;
    out.index = view.WriteIndex();
    std::vector<uint8_t> record(view.Slot(0, slotSize), view.Slot(0, slotSize) + slotSize);
    out.tick = Effects::RecordTickCount(record.data(), slotSize);
    Effects::ScrambleRecord(record.data(), slotSize, ranges, rangeCount, out.tick);
    std::memcpy(&out.code, record.data(), 4);
    std::memcpy(&out.effect, record.data() + effectOffset, 4);
    for (size_t i = effectOffset + 4; i + 8 < slotSize; ++i)
        out.nonZeroPayload += record[i] != 0;
    return out;
}

CDecoded ReadSlotZero(const Effects::CRingLayout& layout)
{
    return ReadSlotZero(layout.sectionName, layout.sectionSize, layout.slotSize, layout.effectOffset, layout.ranges,
                        layout.rangeCount);
}

class GlobalEffect : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW32(Common::KALEO_APPS_KEY);
        RegWriteString(Common::KALEO_APPS_KEY, L"PriorityList", L"");
    }

    // As the device side does before the module writes.
    void CreateModelRings()
    {
        for (DWORD i = 0; i < Effects::MODEL_RING_COUNT; ++i)
        {
            const std::wstring guid = Effects::MODEL_RINGS[i].guid;
            ASSERT_TRUE(m_models[i].Create(L"Global\\" + guid, Effects::MODEL_SECTION_SIZE));
            m_modelEvents[i].Reset(::CreateEventW(nullptr, TRUE, FALSE, (L"Global\\event_" + guid).c_str()));
        }
    }

    CInstallFixture m_install;
    CRingView m_models[Effects::MODEL_RING_COUNT];
    Common::CHandle m_modelEvents[Effects::MODEL_RING_COUNT];
};
} // namespace

TEST_F(GlobalEffect, KeyboardAndHeadsetAppWritesItsRingsHomeReleasedModelsAndGeneral)
{
    RegWriteDword(AppKey(L"game.exe"), L"DevicesSupported", 0x05);
    CreateModelRings();
    CAppManager manager;
    const ULONGLONG before = ::GetTickCount64();
    manager.SetGlobalEffect(Common::EFFECT_OWNED_A, L"game.exe");
    const ULONGLONG after = ::GetTickCount64();

    struct CExpect { const Effects::CRingLayout* ring; DWORD effect; };
    for (const CExpect e : {CExpect{&Effects::KEYBOARD_RING, 14}, CExpect{&Effects::HEADSET_RING, 14},
                            CExpect{&Effects::HOMELIGHTING_RING, 13}, CExpect{&Effects::GENERAL_RING, 14}})
    {
        const CDecoded d = ReadSlotZero(*e.ring);
        const std::string label = Narrow(e.ring->label);
        ASSERT_TRUE(d.present) << label;
        EXPECT_EQ(1u, d.index) << label;
        EXPECT_EQ(e.ring->deviceCode, d.code) << label;
        EXPECT_EQ(e.effect, d.effect) << label;
        EXPECT_GE(d.tick, before) << label;
        EXPECT_LE(d.tick, after) << label;
        EXPECT_EQ(0u, d.nonZeroPayload) << label << ": record must decode to zeros";
    }
    for (const Effects::CRingLayout* absent :
         {&Effects::MOUSE_RING, &Effects::MOUSEPAD_RING, &Effects::KEYPAD_RING, &Effects::LINK_RING})
        EXPECT_FALSE(SectionExists(absent->sectionName)) << Narrow(absent->label) << " written without its bit";

    for (DWORD i = 0; i < Effects::MODEL_RING_COUNT; ++i)
    {
        EXPECT_EQ(1u, m_models[i].WriteIndex()) << "model " << i;
        EXPECT_EQ(Effects::MODEL_RINGS[i].deviceCode, m_models[i].Word(0, Effects::MODEL_SLOT_SIZE, 0));
        EXPECT_EQ(14u, m_models[i].Word(0, Effects::MODEL_SLOT_SIZE, 4));
        EXPECT_GE(m_models[i].Tick(0, Effects::MODEL_SLOT_SIZE), before);
    }
}

TEST_F(GlobalEffect, HomeLightingBitPassesTheEffectAndMissingModelRingsAreSkipped)
{
    RegWriteDword(AppKey(L"game.exe"), L"DevicesSupported", 0x80);
    CAppManager manager;
    manager.SetGlobalEffect(Common::EFFECT_OWNED_B, L"game.exe");
    const CDecoded home = ReadSlotZero(Effects::HOMELIGHTING_RING);
    ASSERT_TRUE(home.present);
    EXPECT_EQ(16u, home.effect);
    EXPECT_EQ(16u, ReadSlotZero(Effects::GENERAL_RING).effect);
    EXPECT_FALSE(SectionExists(Effects::KEYBOARD_RING.sectionName));
    for (const Effects::CModelRingRow& row : Effects::MODEL_RINGS)
        EXPECT_FALSE(SectionExists(std::wstring(L"Global\\") + row.guid)) << "model rings are never created";
}

TEST_F(GlobalEffect, AppWithoutRecordWritesNothing)
{
    CAppManager manager;
    manager.SetGlobalEffect(Common::EFFECT_OWNED_A, L"unknown.exe");
    EXPECT_FALSE(SectionExists(Effects::GENERAL_RING.sectionName));
    EXPECT_FALSE(SectionExists(Effects::HOMELIGHTING_RING.sectionName));
}

TEST_F(GlobalEffect, AppNameThatIsNotAPlainFileNameIsRefused)
{
    // Keys a name with separators would reach.
    RegWriteDword(AppKey(L"evil\\game.exe"), L"DevicesSupported", 0x01);
    RegWriteDword(AppKey(L"game.exe"), L"DevicesSupported", 0x01);
    RegWriteDword(std::wstring(kRootKey) + L"\\game.exe", L"DevicesSupported", 0x01);
    CAppManager manager;
    for (const std::wstring& name : {std::wstring(L"evil\\game.exe"), std::wstring(L"..\\game.exe"),
                                     std::wstring(L"game.exe\\"), std::wstring(L"\\game.exe"),
                                     std::wstring(L"evil/game.exe"), std::wstring(300, L'a'), std::wstring()})
    {
        manager.SetGlobalEffect(Common::EFFECT_OWNED_A, name);
        EXPECT_FALSE(SectionExists(Effects::GENERAL_RING.sectionName)) << "written for " << Narrow(name);
        EXPECT_FALSE(SectionExists(Effects::KEYBOARD_RING.sectionName)) << "written for " << Narrow(name);
    }
    manager.SetGlobalEffect(Common::EFFECT_OWNED_A, L"game.exe");
    EXPECT_TRUE(SectionExists(Effects::KEYBOARD_RING.sectionName)) << "the plain name is written";
}

TEST_F(GlobalEffect, ReleaseEventOnlyForReleasingTypesGlobalEventAlways)
{
    RegWriteDword(AppKey(L"game.exe"), L"DevicesSupported", 0x00);
    CAppManager manager;
    struct CCase { Common::_EFFECTYPE effect; bool released; };
    for (const CCase c : {CCase{14, false}, CCase{16, false}, CCase{13, true}, CCase{11, true}})
    {
        CPulseWatcher released(Effects::RELEASED_EVENT);
        CPulseWatcher global(Effects::GLOBAL_EFFECT_EVENT);
        ::Sleep(30);
        for (int i = 0; i < 5; ++i)
        {
            manager.SetGlobalEffect(c.effect, L"game.exe");
            ::Sleep(30);
        }
        EXPECT_GE(global.Pulses(), 1) << "type " << c.effect;
        if (c.released)
            EXPECT_GE(released.Pulses(), 1) << "type " << c.effect;
        else
            EXPECT_EQ(0, released.Pulses()) << "type " << c.effect;
    }
}
