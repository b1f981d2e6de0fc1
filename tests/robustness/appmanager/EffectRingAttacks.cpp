// The effect rings' headers written by another process: the module's next
// global effect stays within each ring, and the device side reads it whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "AppAttack.h"
#include "EffectRingTestView.h"

using namespace AppAttack;
using namespace EffectTest;
using namespace TestEnv;

namespace
{
using EffectRings = CAppAttackFixture;

constexpr DWORD kRingCount = sizeof(Effects::EFFECT_RINGS) / sizeof(Effects::EFFECT_RINGS[0]);

std::string Text(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

TEST_F(EffectRings, HostileIndexesKeepTheNextEffectInsideEveryRing)
{
    const auto app = Registered();
    const std::wstring output = m_scratch / L"device.txt";
    for (const uint32_t hostile : {10u, 0xFFFFFFFFu, 0x80000000u})
    {
        char name[64];
        std::snprintf(name, sizeof(name), "write index 0x%X", hostile);
        Robustness::CAttack attack("effect rings", name);
        {
            CChildProcess device;
            ASSERT_TRUE(device.Start(BinDir() + L"\\kaleoctl.exe",
                                     L"device --count " + std::to_wstring(kRingCount) + L" --for 30000", output));
            ASSERT_TRUE(WaitFor([&] { return Text(output).find("ready") != std::string::npos; }, 30000));
            std::vector<std::unique_ptr<CRingView>> views;
            for (const Effects::CRingLayout* layout : Effects::EFFECT_RINGS)
            {
                views.push_back(std::make_unique<CRingView>());
                ASSERT_TRUE(views.back()->Open(layout->sectionName, layout->sectionSize));
                views.back()->WriteIndex() = hostile;
                reinterpret_cast<volatile uint32_t*>(views.back()->Data())[1] = hostile;  // the word after it
            }
            ::Sleep(100);  // the reader sees the hostile indexes
            // Every class ring: each registration block sets this anew.
            RegWriteDword(AppKey(L"IdleApp.exe"), L"DevicesSupported", 0xBF);
            m_manager->SetGlobalEffect(Common::EFFECT_OWNED_A, L"IdleApp.exe");
            for (size_t i = 0; i < views.size(); ++i)
                EXPECT_EQ(1u, views[i]->WriteIndex()) << Narrow(Effects::EFFECT_RINGS[i]->label);
            if (device.Wait(30000) != 0)
                attack.Hang();
            for (const CPrinted& record : ParseRecords(Text(output)))
            {
                const Effects::CRingLayout* layout = nullptr;
                for (const Effects::CRingLayout* candidate : Effects::EFFECT_RINGS)
                    layout = Narrow(candidate->label) == record.ring ? candidate : layout;
                ASSERT_NE(nullptr, layout) << record.ring;
                EXPECT_EQ(0u, record.slot) << record.ring;
                EXPECT_EQ(EffectRecordSum(*layout, layout->deviceCode, Common::EFFECT_OWNED_A), record.sum)
                    << record.ring << " decoded wrong";
            }
            EXPECT_EQ(kRingCount, ParseRecords(Text(output)).size()) << Text(output);
        }
        CheckKept(attack, app->Pid());
        CheckServes(attack, PIPE);
        attack.Finish();
    }
}
