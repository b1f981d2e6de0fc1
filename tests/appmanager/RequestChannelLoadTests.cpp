// Many stand-in apps at once over both channels; half of them then die
// without unregistering.
#include <gtest/gtest.h>

#include <map>

#include "RequestChannelHelpers.h"

using namespace ChannelTest;
using namespace TestEnv;

namespace
{
// The manager runs in this process, so its handles are counted here.
using RequestChannelLoad = CChannelFixture;
} // namespace

TEST_F(RequestChannelLoad, TwentyAppsAtOnceThenHalfKilledLeaveAConsistentTable)
{
    WarmUp();
    const DWORD baseline = OwnHandleCount();
    ASSERT_NE(0u, baseline);

    constexpr int kApps = 20;
    std::vector<CHeldApp> apps = StartHeldApps(kApps);
    for (const CHeldApp& app : apps)
        EXPECT_TRUE(app.WaitRegistered(40000)) << Narrow(app.name) << ": " << app.Output();
    std::map<DWORD, std::wstring> expected;
    for (const CHeldApp& app : apps)
        expected[app.process.Pid()] = app.name;
    ExpectTableHolds(expected);

    // Five of each channel die without a word.
    for (int i = 0; i < kApps; ++i)
    {
        if (i % 4 < 2)
        {
            expected.erase(apps[i].process.Pid());
            apps[i].process.Kill();
            apps[i].process = CChildProcess();  // closes its handle
        }
    }
    EXPECT_TRUE(WaitFor([&] { return m_table.Count() == static_cast<int>(expected.size()); }, 10000));
    ExpectTableHolds(expected);

    apps.clear();  // kills the rest and closes their handles
    expected.clear();
    EXPECT_TRUE(WaitFor([&] { return m_table.Count() == 0; }, 10000));
    ExpectTableHolds(expected);
    EXPECT_EQ(0u, m_manager->RegisteredCount());
    EXPECT_TRUE(WaitFor([&] { return OwnHandleCount() <= baseline; }, 10000))
        << "handles in the module's process: " << baseline << " before, " << OwnHandleCount() << " after";
}
