// The shared app table written by another process: counts it cannot hold
// and names without terminators, met by a registration while the module
// runs and by the revalidation of a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "AppAttack.h"

using namespace AppAttack;
using namespace TestEnv;

namespace
{
using AppTable = CAppAttackFixture;
} // namespace

TEST_F(AppTable, HostileCountsAndNamesLoseNoRegisteredApp)
{
    const auto app = Registered();
    Common::CAppData::_APPTABLE* table = m_table.Table();
    const auto count = [table](int32_t value) { return [table, value] { table->nCount = value; }; };
    // Every name filled to the end, the rows past the count as well.
    const auto unterminated = [table] {
        for (auto& row : table->rows)
            std::fill(std::begin(row.szName), std::end(row.szName), L'x');
    };
    const struct
    {
        const char* name;
        std::function<void()> attack;
    } cases[] = {
        {"count -1", count(-1)},
        {"count 51", count(51)},
        {"count 2^31", count(INT32_MIN)},
        {"names without terminators", unterminated},
    };
    for (const auto& c : cases)
    {
        for (const bool restart : {false, true})
        {
            Robustness::CAttack attack("app table", std::string(c.name) + (restart ? ", restart" : ", registration"));
            c.attack();
            if (restart)
                Restart();
            CheckServes(attack, PIPE);
            CheckKept(attack, app->Pid());
            attack.Finish();
        }
    }
}
