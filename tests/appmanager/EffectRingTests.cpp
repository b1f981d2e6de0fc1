// The effect rings on their own: record scrambling, slot order, hostile ring
// content and concurrent writers in one process.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "EffectRingTestView.h"
#include "EffectRings.h"

using namespace EffectTest;

namespace
{
struct CRange
{
    size_t first;
    size_t last;
};

// The scrambled ranges as the device side expects them, written out here
// independently of the layout header.
template <typename T> struct CExpected;
template <> struct CExpected<CKaleoKeyboardData> { static std::vector<CRange> Ranges() { return {{72, 2955}}; } };
template <> struct CExpected<CKaleoMouseData> { static std::vector<CRange> Ranges() { return {{36, 407}, {424, 427}}; } };
template <> struct CExpected<CKaleoHeadsetData> { static std::vector<CRange> Ranges() { return {{24, 43}, {48, 51}}; } };
template <> struct CExpected<CKaleoMousepadData> { static std::vector<CRange> Ranges() { return {{40, 183}}; } };
template <> struct CExpected<CKaleoKeypadData> { static std::vector<CRange> Ranges() { return {{24, 103}, {120, 123}}; } };
template <> struct CExpected<CKaleoLinkData> { static std::vector<CRange> Ranges() { return {{24, 223}, {228, 231}}; } };
template <> struct CExpected<CKaleoHomeLightingData> { static std::vector<CRange> Ranges() { return {}; } };
template <> struct CExpected<CKaleoData> { static std::vector<CRange> Ranges() { return {{32, 3631}, {3656, 3659}}; } };

bool InRanges(const std::vector<CRange>& ranges, size_t offset)
{
    for (const CRange& r : ranges)
        if (offset >= r.first && offset <= r.last)
            return true;
    return false;
}

template <typename TRing>
class EffectScramble : public ::testing::Test
{
};
using RingTypes = ::testing::Types<CKaleoKeyboardData, CKaleoMouseData, CKaleoHeadsetData, CKaleoMousepadData,
                                   CKaleoKeypadData, CKaleoLinkData, CKaleoHomeLightingData, CKaleoData>;
TYPED_TEST_SUITE(EffectScramble, RingTypes);
} // namespace

TYPED_TEST(EffectScramble, ChangesExactlyTheListedRangesAndTwiceRestores)
{
    using Record = typename TypeParam::_DATATYPE;
    const std::vector<CRange> ranges = CExpected<TypeParam>::Ranges();
    auto plain = std::make_unique<Record>();
    uint8_t* plainBytes = reinterpret_cast<uint8_t*>(plain.get());
    for (size_t i = 0; i < sizeof(Record); ++i)
        plainBytes[i] = static_cast<uint8_t>(i * 7 + 3);

    for (const uint64_t tick : {0x7Full, 0x80ull, 0x1234567ull})
    {
        plain->ullTickCount = tick;
        auto scrambled = std::make_unique<Record>(*plain);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(scrambled.get());
        TypeParam::Encrypt(scrambled.get());
        size_t wrong = 0;
        for (size_t i = 0; i < sizeof(Record); ++i)
        {
            const bool changed = bytes[i] != plainBytes[i];
            if (changed != InRanges(ranges, i) && wrong++ == 0)
                ADD_FAILURE() << "byte " << i << (changed ? " changed" : " kept") << ", tick " << tick;
        }
        EXPECT_EQ(0u, wrong) << "bytes scrambled outside or kept inside the ranges";
        TypeParam::Encrypt(scrambled.get());
        EXPECT_EQ(0, std::memcmp(scrambled.get(), plain.get(), sizeof(Record))) << "twice must restore, tick " << tick;
    }
}

TEST(EffectKeyRule, OffsetFromTickCount)
{
    EXPECT_EQ(124u, Effects::KeyOffset(0x7F));
    EXPECT_EQ(0u, Effects::KeyOffset(0x80));
    EXPECT_EQ(124u, Effects::KeyOffset(124));
    EXPECT_EQ(122u, Effects::KeyOffset(125));
    EXPECT_EQ(123u, Effects::KeyOffset(126));
    EXPECT_EQ(124u, Effects::KeyOffset(0xFFFFFFFFFFFFFFFFull));
    EXPECT_EQ(5u, Effects::KeyOffset(0x100000005ull)) << "the whole 64-bit count counts";
}

TEST(EffectKeyRule, EveryWordUsesTheKeyBytesOfOneOffset)
{
    struct CCase { uint64_t tick; size_t k; };
    for (const CCase c : {CCase{0x7F, 124}, CCase{0x80, 0}})
    {
        CKaleoKeypadData::_DATATYPE record{};
        record.ullTickCount = c.tick;
        CKaleoKeypadData::Encrypt(&record);
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&record);
        for (size_t offset : {size_t(24), size_t(100), size_t(120)})
            for (size_t j = 0; j < 4; ++j)
                EXPECT_EQ(Effects::KEY_TABLE[c.k + 129 * j], bytes[offset + j])
                    << "tick " << c.tick << " word at " << offset << " byte " << j;
    }
}

TEST(EffectKeyRule, TableIsTheOneTheDevicesUse)
{
    // Devices in the field unscramble with this table: any edit breaks them.
    EXPECT_EQ(512u, sizeof(Effects::KEY_TABLE));
    uint32_t hash = 2166136261u;
    for (uint8_t b : Effects::KEY_TABLE)
        hash = (hash ^ b) * 16777619u;
    EXPECT_EQ(0x31D235C6u, hash);
}

// ---------------------------------------------------------------------------

namespace
{
class EffectRing : public ::testing::Test
{
protected:
    template <typename TRing>
    CRingView Attach(TRing&)
    {
        CRingView view;
        EXPECT_TRUE(view.Open(TRing::Layout().sectionName, TRing::Layout().sectionSize));
        return view;
    }
};
} // namespace

TEST_F(EffectRing, ElevenWritesWrapToSlotZero)
{
    CKaleoMousepadData ring;
    const DWORD slotSize = ring.SlotSize();
    for (DWORD effect = 1; effect <= 10; ++effect)
        ASSERT_EQ(0u, ring.WriteEffect(effect));
    CRingView view = Attach(ring);
    ASSERT_TRUE(view.Data());
    EXPECT_EQ(0u, view.WriteIndex());
    for (DWORD slot = 0; slot < 10; ++slot)
    {
        EXPECT_EQ(Effects::CODE_MOUSEPAD, view.Word(slot, slotSize, 0)) << "slot " << slot;
        EXPECT_EQ(slot + 1, view.Word(slot, slotSize, 4)) << "slot " << slot;
    }
    ASSERT_EQ(0u, ring.WriteEffect(11));
    EXPECT_EQ(1u, view.WriteIndex());
    EXPECT_EQ(11u, view.Word(0, slotSize, 4));
    EXPECT_EQ(2u, view.Word(1, slotSize, 4)) << "the eleventh write touches slot 0 only";
}

TEST_F(EffectRing, CreatedZeroFilledAndRecordStampedAndScrambled)
{
    CKaleoKeyboardData ring;
    const ULONGLONG before = ::GetTickCount64();
    ASSERT_EQ(0u, ring.WriteEffect(14));
    const ULONGLONG after = ::GetTickCount64();
    CRingView view = Attach(ring);
    ASSERT_TRUE(view.Data());

    const DWORD slotSize = ring.SlotSize();
    CKaleoKeyboardData::_DATATYPE record;
    std::memcpy(&record, view.Slot(0, slotSize), sizeof(record));
    EXPECT_GE(record.ullTickCount, before);
    EXPECT_LE(record.ullTickCount, after);
    EXPECT_EQ(Effects::KeyMask(record.ullTickCount) & 0xFF, record.keys[0]) << "stored scrambled";
    CKaleoKeyboardData::Encrypt(&record);
    EXPECT_EQ(Effects::CODE_KEYBOARD, record.dwDeviceCode);
    EXPECT_EQ(14u, record.dwEffect);
    for (uint8_t b : record.keys)
        ASSERT_EQ(0, b) << "plain record is zero outside its header";

    // Everything else in the new section is zero: header word, other slots,
    // the trailing area.
    const size_t size = CKaleoKeyboardData::Layout().sectionSize;
    size_t nonZero = 0;
    for (size_t i = 4; i < size; ++i)
        if (i < Effects::SlotOffset(0, slotSize) || i >= Effects::SlotOffset(1, slotSize))
            nonZero += view.Data()[i] != 0;
    EXPECT_EQ(0u, nonZero);
}

TEST_F(EffectRing, MouseRecordCarriesTheEffectInWordTwo)
{
    CKaleoMouseData ring;
    ASSERT_EQ(0u, ring.WriteEffect(16));
    CRingView view = Attach(ring);
    ASSERT_TRUE(view.Data());
    EXPECT_EQ(Effects::CODE_MOUSE, view.Word(0, ring.SlotSize(), 0));
    EXPECT_EQ(0x3F0FFFu, view.Word(0, ring.SlotSize(), 4));
    EXPECT_EQ(16u, view.Word(0, ring.SlotSize(), 8));
}

TEST_F(EffectRing, HostileWriteIndexNeverAddressesASlot)
{
    CKaleoKeyboardData ring;
    ASSERT_EQ(0u, ring.WriteEffect(14));
    CRingView view = Attach(ring);
    ASSERT_TRUE(view.Data());
    const DWORD slotSize = ring.SlotSize();
    const size_t size = CKaleoKeyboardData::Layout().sectionSize;
    const size_t slotsEnd = Effects::SlotOffset(10, slotSize);
    std::memset(view.Data() + slotsEnd, 0xAB, size - slotsEnd);

    for (const uint32_t hostile : {10u, 0xFFFFFFFFu, 0x80000000u})
    {
        std::memset(view.Slot(0, slotSize), 0xCD, slotSize);
        view.WriteIndex() = hostile;
        ASSERT_EQ(0u, ring.WriteEffect(13)) << hostile;
        EXPECT_EQ(1u, view.WriteIndex()) << "index after a hostile " << hostile;
        EXPECT_EQ(Effects::CODE_KEYBOARD, view.Word(0, slotSize, 0)) << "record in slot 0 after " << hostile;
        EXPECT_EQ(13u, view.Word(0, slotSize, 4));
    }
    size_t changed = 0;
    for (size_t i = slotsEnd; i < size; ++i)
        changed += view.Data()[i] != 0xAB;
    EXPECT_EQ(0u, changed) << "trailing area written";
}

TEST_F(EffectRing, AttachKeepsARingTheDeviceSideCreated)
{
    const Effects::CRingLayout& layout = CKaleoHeadsetData::Layout();
    CRingView device;
    ASSERT_TRUE(device.Create(layout.sectionName, layout.sectionSize));
    device.WriteIndex() = 3;
    const size_t slotsEnd = Effects::SlotOffset(10, layout.slotSize);
    std::memset(device.Data() + slotsEnd, 0x5A, layout.sectionSize - slotsEnd);
    std::memset(device.Slot(2, layout.slotSize), 0x77, layout.slotSize);

    CEffectRings rings;
    rings.WriteHeadsetRecord(Effects::CODE_HEADSET_LAST_APP, Common::EFFECT_HEADSET_LAST_APP);
    EXPECT_EQ(4u, device.WriteIndex());
    EXPECT_EQ(0x40510u, device.Word(3, layout.slotSize, 0));
    EXPECT_EQ(10u, device.Word(3, layout.slotSize, 4));
    EXPECT_EQ(0x77777777u, device.Word(2, layout.slotSize, 0)) << "other slots untouched";
    EXPECT_EQ(0x5A, device.Data()[slotsEnd]);
    EXPECT_EQ(0x5A, device.Data()[layout.sectionSize - 1]);
}

TEST_F(EffectRing, SectionSmallerThanItsLayoutIsSkipped)
{
    const Effects::CRingLayout& layout = CKaleoKeyboardData::Layout();
    CRingView hostile;
    ASSERT_TRUE(hostile.Create(layout.sectionName, 4096));
    CKaleoKeyboardData ring;
    EXPECT_NE(0u, ring.WriteEffect(14));
    EXPECT_FALSE(ring.IsAttached());
    EXPECT_EQ(0u, hostile.WriteIndex());
}

TEST_F(EffectRing, ModelRingIsOpenedButNeverCreated)
{
    const Effects::CModelRingRow& row = Effects::MODEL_RINGS[2];
    const std::wstring section = std::wstring(L"Global\\") + row.guid;
    CKaleoModelData ring(row);
    EXPECT_NE(0u, ring.WriteEffect(14));
    EXPECT_FALSE(SectionExists(section));

    CRingView device;
    ASSERT_TRUE(device.Create(section, Effects::MODEL_SECTION_SIZE));
    ASSERT_EQ(0u, ring.WriteEffect(14));
    EXPECT_EQ(1u, device.WriteIndex());
    EXPECT_EQ(row.deviceCode, device.Word(0, Effects::MODEL_SLOT_SIZE, 0));
    EXPECT_EQ(14u, device.Word(0, Effects::MODEL_SLOT_SIZE, 4));
    EXPECT_NE(0u, device.Tick(0, Effects::MODEL_SLOT_SIZE));
}

TEST_F(EffectRing, ConcurrentWritersKeepEveryRecordWhole)
{
    // The keyboard record is large enough for unserialised writers to
    // overlap in the scratch record and the slot.
    CKaleoKeyboardData ring;
    constexpr int kThreads = 4;
    constexpr int kWrites = 500;
    std::atomic<bool> go{false};
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < kWrites; ++i)
                ring.WriteEffect(100 + t);
        });
    go = true;
    for (std::thread& writer : writers)
        writer.join();

    CRingView view = Attach(ring);
    ASSERT_TRUE(view.Data());
    EXPECT_EQ(static_cast<uint32_t>(kThreads * kWrites % 10), view.WriteIndex()) << "an index step was lost";
    auto record = std::make_unique<CKaleoKeyboardData::_DATATYPE>();
    for (DWORD slot = 0; slot < 10; ++slot)
    {
        std::memcpy(record.get(), view.Slot(slot, ring.SlotSize()), sizeof(*record));
        CKaleoKeyboardData::Encrypt(record.get());
        EXPECT_EQ(Effects::CODE_KEYBOARD, record->dwDeviceCode) << "slot " << slot;
        EXPECT_GE(record->dwEffect, 100u);
        EXPECT_LT(record->dwEffect, 100u + kThreads);
        size_t mixed = 0;
        for (uint8_t b : record->keys)
            mixed += b != 0;
        EXPECT_EQ(0u, mixed) << "slot " << slot << " mixes two writers";
    }
}
