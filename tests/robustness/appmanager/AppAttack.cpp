#include "AppAttack.h"

#include <algorithm>

#include "EffectLayout.h"
#include "EffectRingTestView.h"

using namespace ChannelTest;
using namespace TestEnv;

namespace AppAttack
{

void CAppAttackFixture::SetUp()
{
    CChannelFixture::SetUp();
    WarmUp();
    EffectTest::RegWriteDword(EffectTest::AppKey(L"IdleApp.exe"), L"DevicesSupported", 0xBF);
    m_manager->SetGlobalEffect(Common::EFFECT_RELEASED, L"IdleApp.exe");
}

std::unique_ptr<AppTest::CIdleApp> CAppAttackFixture::Registered()
{
    auto app = std::make_unique<AppTest::CIdleApp>();
    EXPECT_TRUE(RegisterThroughPipe(app->Pid()));
    EXPECT_TRUE(TableHolds(app->Pid()));
    return app;
}

bool CAppAttackFixture::TableHolds(DWORD pid) const
{
    const std::vector<DWORD> pids = m_table.Pids();
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}

void CAppAttackFixture::CheckKept(Robustness::CAttack& attack, DWORD pid)
{
    if (!TableHolds(pid) || m_manager->RegisteredName(pid).empty())
        attack.Lost(1);
}

void CAppAttackFixture::CheckServes(Robustness::CAttack& attack, EChannel channel)
{
    AppTest::CIdleApp app;
    const DWORD pid = app.Pid();
    const bool served = channel == PIPE ? RegisterThroughPipe(pid) : RegisterThroughRing(pid);
    if (!served || !WaitFor([&] { return TableHolds(pid); }, 3000))
        attack.Hang();
    app.Kill();
    if (!WaitFor([&] { return !TableHolds(pid) && m_manager->RegisteredName(pid).empty(); }, 8000))
        attack.Hang();
}

void CAppAttackFixture::Restart()
{
    m_manager.reset();
    CChannelFixture::SetUp();
}

} // namespace AppAttack
