#pragma once
// A running app manager, in this process, under attack: one app registered
// before the cases, and the checks every case ends with.
#include <memory>

#include "Attack.h"
#include "RequestChannelHelpers.h"

namespace AppAttack
{

enum EChannel
{
    PIPE,
    RING
};

class CAppAttackFixture : public ChannelTest::CChannelFixture
{
protected:
    // A running manager whose lazily made objects (every class effect ring
    // among them) exist, so a case counts only what it leaves behind.
    void SetUp() override;

    // A stand-in app registered through the pipe: the state cases must keep.
    std::unique_ptr<AppTest::CIdleApp> Registered();
    // Lost when the module's view or its table no longer holds pid.
    void CheckKept(Robustness::CAttack& attack, DWORD pid);
    // One valid registration through the channel, served in time (else a
    // hang); that app then ends and must leave the table in time too.
    void CheckServes(Robustness::CAttack& attack, EChannel channel);
    // Stops the module and starts it again on the same table.
    void Restart();

    bool TableHolds(DWORD pid) const;
};

} // namespace AppAttack
