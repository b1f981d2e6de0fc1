// The request ring written by another process: write indexes no slot has,
// and slots naming a dead process or one that is no app.
#include <gtest/gtest.h>

#include <functional>

#include "AppAttack.h"

using namespace AppAttack;
using namespace ChannelTest;
using namespace TestEnv;

namespace
{
using RequestRing = CAppAttackFixture;
} // namespace

TEST_F(RequestRing, HostileSlotsAndIndexesLoseNothingAndTheNextIsServed)
{
    const auto app = Registered();
    CTestRing ring;
    // Writes the hostile content and waits until the server has seen it.
    const auto pushed = [&](DWORD pid, DWORD request) {
        ring.Push(pid, request);
        CTestRing::Pulse();
        return WaitFor([&] { return CallsOf(request ? CCall::REGISTER_PID : CCall::UNREGISTER, pid) == 1; }, 5000);
    };
    const auto badIndex = [&](DWORD index) {
        ring.SetIndex(index);
        CTestRing::Pulse();
        ::Sleep(1200);  // past the server's look at the ring without a pulse
        return ring.Index() == index;  // the server writes nothing back
    };
    const struct
    {
        const char* name;
        std::function<bool()> attack;
    } cases[] = {
        {"write index 10", [&] { return badIndex(10); }},
        {"write index 0xFFFFFFFF", [&] { return badIndex(0xFFFFFFFF); }},
        {"register of a dead pid", [&] { return pushed(AppTest::DeadProcessId(), AppRequests::REQUEST_REGISTER); }},
        {"unregister of a dead pid", [&] { return pushed(AppTest::DeadProcessId(), 0); }},
        {"register of a foreign pid", [&] {
             // A live process that never asked: registered on its behalf,
             // and dropped again once it ends.
             AppTest::CIdleApp foreign;
             const bool seen = pushed(foreign.Pid(), AppRequests::REQUEST_REGISTER);
             foreign.Kill();
             return seen && WaitFor([&] { return !TableHolds(foreign.Pid()); }, 8000);
         }},
        {"unregister of a foreign pid", [&] {
             AppTest::CIdleApp foreign;
             return pushed(foreign.Pid(), 0);
         }},
    };
    for (const auto& c : cases)
    {
        Robustness::CAttack attack("request ring", c.name);
        EXPECT_TRUE(c.attack()) << c.name;
        CheckKept(attack, app->Pid());
        CheckServes(attack, RING);
        attack.Finish();
    }
}
