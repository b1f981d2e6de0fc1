// The control pipe against clients that send the wrong size, stay silent or
// die while they write.
#include <gtest/gtest.h>

#include "AppAttack.h"

using namespace AppAttack;
using namespace ChannelTest;
using namespace TestEnv;

namespace
{
using ControlPipe = CAppAttackFixture;

struct CPipeCase
{
    const char* name;
    DWORD bytes;
    bool killedWriting;  // ended while it writes (or right after), else it exits
};

const CPipeCase kPipeCases[] = {
    {"block of 0 bytes", 0, false},
    {"block of 1 byte", 1, false},
    {"block of 3599 bytes", 3599, false},
    {"block of 3601 bytes", 3601, false},
    {"block of 65536 bytes", 65536, false},
    {"client killed after half a block", 1800, true},
    {"client killed in a 65536-byte write", 65536, true},
};
} // namespace

TEST_F(ControlPipe, HostileClientsLoseNothingAndTheNextIsServed)
{
    const auto app = Registered();
    for (const CPipeCase& c : kPipeCases)
    {
        Robustness::CAttack attack("control pipe", c.name);
        {
            CChildProcess client;
            ASSERT_TRUE(client.Start(BinDir() + L"\\IdleApp.exe",
                                     std::wstring(L"--pipe ") + AppRequests::CONTROL_PIPE_NAME + L" --write-bytes " +
                                         std::to_wstring(c.bytes) + (c.killedWriting ? L"" : L" --exit-after 0")));
            if (c.killedWriting)
            {
                ::Sleep(500);
                client.Kill();
            }
            else if (client.Wait(15000) == STILL_ACTIVE)
            {
                attack.Hang();
            }
        }
        CheckKept(attack, app->Pid());
        CheckServes(attack, PIPE);
        attack.Finish();
    }

    Robustness::CAttack attack("control pipe", "silent client");
    {
        Common::CHandle silent = OpenControlPipe(5000);
        EXPECT_TRUE(silent.IsValid());
        CheckServes(attack, PIPE);
        CheckKept(attack, app->Pid());
    }
    attack.Finish();
}
