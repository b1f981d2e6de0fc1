#pragma once
// The effect rings the device side reads.
#include <windows.h>
#include "RegisterData.h"

class CEffectRings
{
public:
    void WriteHeadsetRecord(DWORD, Common::_EFFECTYPE) {}
};
