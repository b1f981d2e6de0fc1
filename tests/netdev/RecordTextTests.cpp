#include <gtest/gtest.h>

#include <string>

#include "RecordText.h"

namespace
{

TEST(RecordText, KeepsTextsUpTo259CharactersAndRefusesLongerOnesUntouched)
{
    struct
    {
        size_t chars;
        bool taken;
    } const cases[] = {{0, true}, {1, true}, {259, true}, {260, false}, {4096, false}};
    for (const auto& c : cases)
    {
        wchar_t field[Common::DEVICE_TEXT_CHARS];
        std::fill(std::begin(field), std::end(field), L'#');
        const std::wstring text(c.chars, L'x');
        EXPECT_EQ(c.taken, NetDevice::CopyRecordText(field, text)) << c.chars;
        if (c.taken)
        {
            EXPECT_EQ(text, std::wstring(field)) << c.chars;
            for (size_t i = c.chars; i < Common::DEVICE_TEXT_CHARS; ++i)
                ASSERT_EQ(L'\0', field[i]) << "not zero-filled at " << i;
        }
        else
            EXPECT_EQ(L'#', field[0]) << "a refused text must leave the field as it was";
    }
}

} // namespace
