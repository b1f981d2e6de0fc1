// Many stand-in apps at once over both channels; half of them then die
// without unregistering.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "RequestChannelHelpers.h"

using namespace ChannelTest;
using namespace TestEnv;

namespace
{
// The manager runs in this process, so its handles are counted here.
class RequestChannelLoad : public CChannelFixture
{
protected:
    // Registers a live process through each channel and lets it die, so the
    // module's lazily made objects exist before the handles are counted.
    void WarmUp()
    {
        for (const wchar_t* channel : {L"", L"--ring "})
        {
            AppTest::CIdleApp app;
            ASSERT_EQ(0u, RunProcess(BinDir() + L"\\kaleoctl.exe",
                                     std::wstring(L"app register ") + channel + L"--pid " + std::to_wstring(app.Pid()),
                                     30000));
            app.Kill();
            ASSERT_TRUE(WaitFor([&] { return m_table.Count() == 0; }, 5000));
        }
    }

    // Rows 1..count hold exactly the expected pids, each once, with its name.
    void ExpectTableHolds(const std::map<DWORD, std::wstring>& expected)
    {
        const std::vector<DWORD> pids = m_table.Pids();
        EXPECT_EQ(static_cast<int>(expected.size()), m_table.Count());
        EXPECT_EQ(expected.size(), std::set<DWORD>(pids.begin(), pids.end()).size()) << "duplicate rows";
        for (size_t i = 0; i < pids.size(); ++i)
        {
            const auto it = expected.find(pids[i]);
            if (it == expected.end())
            {
                ADD_FAILURE() << "ghost row " << i + 1 << ": pid " << pids[i];
                continue;
            }
            EXPECT_EQ(it->second, m_table.Name(static_cast<int>(i) + 1)) << "row " << i + 1;
        }
    }

};

std::string FileText(const std::wstring& path)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
} // namespace

TEST_F(RequestChannelLoad, TwentyAppsAtOnceThenHalfKilledLeaveAConsistentTable)
{
    WarmUp();
    const DWORD baseline = OwnHandleCount();
    ASSERT_NE(0u, baseline);

    constexpr int kApps = 20;
    std::vector<CChildProcess> apps(kApps);
    std::vector<std::wstring> names, outputs;
    for (int i = 0; i < kApps; ++i)
    {
        wchar_t name[32];
        swprintf(name, 32, L"app%02d.exe", i);
        names.push_back(name);
        outputs.push_back(m_scratch / (std::wstring(name) + L".txt"));
        const std::wstring exe = m_scratch / name;
        ASSERT_TRUE(::CopyFileW((BinDir() + L"\\kaleoctl.exe").c_str(), exe.c_str(), FALSE));
    }
    for (int i = 0; i < kApps; ++i)
    {
        // Even ones through the pipe, odd ones through the ring.
        const std::wstring args = std::wstring(L"app register --hold --timeout 30000") + (i % 2 ? L" --ring" : L"");
        ASSERT_TRUE(apps[i].Start(m_scratch / names[i], args, outputs[i]));
    }
    for (int i = 0; i < kApps; ++i)
    {
        EXPECT_TRUE(WaitFor([&] { return FileText(outputs[i]).find("registered pid") != std::string::npos; }, 40000))
            << Narrow(names[i]) << ": " << FileText(outputs[i]);
    }
    std::map<DWORD, std::wstring> expected;
    for (int i = 0; i < kApps; ++i)
        expected[apps[i].Pid()] = names[i];
    ExpectTableHolds(expected);

    // Five of each channel die without a word.
    for (int i = 0; i < kApps; ++i)
    {
        if (i % 4 < 2)
        {
            expected.erase(apps[i].Pid());
            apps[i].Kill();
            apps[i] = CChildProcess();  // closes its handle
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
