// Fifty apps over both channels at once while the active app is killed
// again and again: the table ends holding exactly the live apps.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "AppAttack.h"

using namespace AppAttack;
using namespace ChannelTest;
using namespace TestEnv;

namespace
{
using Load = CAppAttackFixture;

constexpr int kKills = 10;
// The ring holds ten requests (an eleventh overwrites the first), so ring
// apps come in waves that fit it; pipe clients wait for an instance.
constexpr size_t kRingWave = 8;
} // namespace

TEST_F(Load, FiftyAppsWhileTheActiveAppIsKilledRepeatedly)
{
    // With the app registered first, the 49 that come fill the table.
    const auto app = Registered();
    Robustness::CAttack attack("load (50 apps)", "49 more at once, the active app killed 10 times", 0, 150000);
    {
        std::vector<CHeldApp> apps = HeldApps(Common::APP_TABLE_MAX_ROWS - 1);
        std::map<DWORD, std::wstring> live = {{app->Pid(), L"IdleApp.exe"}};
        std::vector<CHeldApp*> ringQueue, ringWave;
        for (size_t i = 0; i < apps.size(); ++i)
        {
            if (i % 2)
            {
                ringQueue.push_back(&apps[i]);
                continue;
            }
            EXPECT_TRUE(apps[i].Start(m_scratch, false));
            live[apps[i].process.Pid()] = apps[i].name;
        }
        int kills = 0;
        const auto registered = [&](const CHeldApp* held) {
            return !live.count(held->process.Pid()) || held->Output().find("registered pid") != std::string::npos;
        };
        const auto step = [&] {
            // The next ring wave once the last one is served.
            if (std::all_of(ringWave.begin(), ringWave.end(), registered) && !ringQueue.empty())
            {
                ringWave.clear();
                while (!ringQueue.empty() && ringWave.size() < kRingWave)
                {
                    EXPECT_TRUE(ringQueue.back()->Start(m_scratch, true));
                    ringWave.push_back(ringQueue.back());
                    ringQueue.pop_back();
                }
                for (CHeldApp* held : ringWave)
                    live[held->process.Pid()] = held->name;
            }
            const DWORD active = m_table.Active();
            for (CHeldApp& held : apps)
            {
                if (kills < kKills && active != 0 && held.process.Pid() == active && live.count(active))
                {
                    held.process.Kill();
                    live.erase(active);
                    ++kills;
                }
            }
            return ringQueue.empty() && kills == kKills &&
                   std::all_of(apps.begin(), apps.end(), [&](const CHeldApp& held) { return registered(&held); });
        };
        if (!WaitFor(step, 120000))
            attack.Hang();
        EXPECT_EQ(kKills, kills) << "no active app to kill";
        if (!WaitFor([&] { return m_table.Count() == static_cast<int>(live.size()); }, 15000))
            attack.Hang();
        ExpectTableHolds(live);
        EXPECT_TRUE(WaitFor([&] { return live.count(m_table.Active()) != 0; }, 5000)) << "active " << m_table.Active();
        for (const auto& entry : live)
        {
            if (!TableHolds(entry.first) || m_manager->RegisteredName(entry.first).empty())
                attack.Lost(1);
        }
        CheckServes(attack, RING);
        apps.clear();  // kills the rest and closes their handles
        if (!WaitFor([&] { return m_table.Count() == 1; }, 20000))
            attack.Hang();
    }
    CheckKept(attack, app->Pid());
    attack.Finish();
}
