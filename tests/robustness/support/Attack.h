#pragma once
// One hostile case against a channel of the layer, and what it left behind.
// Every case is counted, bounded in time, and checked for crashes, handles
// leaked and items lost; each appends one row to the build tree's ledger,
// which scripts/test.sh sums into one table per channel.
#include <windows.h>
#include <string>

#include "Handles.h"

namespace Robustness
{

class CAttack
{
public:
    // Starts counting the handles of `targetPid` (0: this process, where the
    // module under attack runs in process). The case must end within
    // `limitMs`: past that the watchdog records a hang and ends the process,
    // since a hung channel would otherwise hold the whole run.
    CAttack(const char* channel, const std::string& name, DWORD targetPid = 0, DWORD limitMs = 60000);
    ~CAttack();
    CAttack(const CAttack&) = delete;
    CAttack& operator=(const CAttack&) = delete;

    // A bounded wait of the case expired: the channel stopped serving.
    void Hang();
    // Items registered or attached before the attack that are gone after it.
    void Lost(unsigned count);
    // Handles the platform itself keeps for what the case did (Wine's 32-bit
    // loader keeps two for every library it loads and frees), measured by
    // the caller; they are not counted as leaked.
    void Allow(unsigned handles);
    // Waits (bounded) for the target's handles to come back to where they
    // were, checks the target still runs, writes the row and reports every
    // non-zero figure as a test failure. Call once the case's own handles
    // are closed; the destructor calls it otherwise.
    void Finish();

private:
    DWORD CountHandles() const;

    std::string m_channel;
    std::string m_name;
    DWORD m_pid;
    Common::CHandle m_target;
    DWORD m_baseline = 0;
    unsigned m_hangs = 0;
    unsigned m_lost = 0;
    unsigned m_allowed = 0;
    bool m_finished = false;
};

} // namespace Robustness
