// The record's 32-bit module field in both builds: it marks a loaded copy and
// never reads as "not attached" for one, whatever the handle's width.
#include <gtest/gtest.h>

#include "DeviceInfo.h"

namespace
{

TEST(DeviceRecordModuleTag, MarksEveryLoadedCopyAndOnlyThose)
{
    struct
    {
        unsigned long long handle;
        uint32_t tag;
    } const cases[] = {
        {0, 0},
        {0x10000000ull, 0x10000000u},
        {0x7FFF0000ull, 0x7FFF0000u},
#if defined(_WIN64)
        {0x180000000ull, 0x80000000u},   // the usual base of a 64-bit DLL
        {0x100000000ull, 1u},            // low half zero: still attached
        {0x7FF612340000ull, 0x12340000u},
#endif
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.tag, Common::ModuleTag(reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(c.handle))))
            << std::hex << c.handle;
}

} // namespace
