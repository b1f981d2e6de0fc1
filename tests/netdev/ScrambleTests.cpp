// The byte form of the configuration files as the writers build it and
// kaleoctl decodes it in memory; the file readers' own cases are in
// ReaderTests.cpp.
#include <gtest/gtest.h>

#include <string>

#include "ConfigFiles.h"
#include "Scramble.h"

namespace
{

using NetDevice::CLengthField;

TEST(ScrambleForm, BytesAreTheKnownXorAndLittleEndianField)
{
    // Written out by hand, so that both sides sharing one mistake still fails.
    EXPECT_EQ(std::string("\x10\x26\x10", 3), NetDevice::MakeScrambledFile("ABA", "Qd"));
    EXPECT_EQ("ABA", NetDevice::MakeScrambledFile("ABA", ""));
    EXPECT_EQ(std::string("\x04\x03\x02\x01", 4), NetDevice::EncodeLengthField(0x01020304));
    EXPECT_EQ(std::string("\xFF\xFF\xFF\xFF", 4), NetDevice::EncodeLengthField(-1));
    EXPECT_EQ(std::string("\x02\x00\x00\x00\x10\x26", 6), NetDevice::MakeLengthPrefixedScrambledFile("AB", "Qd"));

    // Longer than the key, with bytes that XOR to zero: the round trip restores it.
    const std::string text("{\"pid\":1}\0Qd0x7E4BWtr\xFF", 22);
    EXPECT_EQ(text, NetDevice::MakeScrambledFile(NetDevice::MakeScrambledFile(text, NetDevice::IOT_CONFIG_KEY),
                                                 NetDevice::IOT_CONFIG_KEY));
}

TEST(ScrambleForm, LengthPrefixedDecodeKeepsEveryBound)
{
    const char* key = NetDevice::IOT_CONFIG_KEY;
    const std::string body = NetDevice::MakeScrambledFile("[1,2]", key);
    struct
    {
        const char* what;
        std::string bytes;
        DWORD result;
        std::string text;
        int32_t declared;
    } const cases[] = {
        {"whole", NetDevice::MakeLengthPrefixedScrambledFile("[1,2]", key), ERROR_SUCCESS, "[1,2]", 5},
        {"trailing bytes ignored", NetDevice::EncodeLengthField(3) + body, ERROR_SUCCESS, "[1,", 3},
        {"zero length", NetDevice::EncodeLengthField(0) + body, ERROR_SUCCESS, "", 0},
        {"shorter than the field", std::string("\x05\x00", 2), ERROR_SUCCESS, "", 0},
        {"negative length", NetDevice::EncodeLengthField(-1) + body, ERROR_BAD_LENGTH, "", -1},
        {"beyond what follows", NetDevice::EncodeLengthField(6) + body, ERROR_BAD_LENGTH, "", 6},
        {"huge length", NetDevice::EncodeLengthField(0x7FFFFFFF) + body, ERROR_BAD_LENGTH, "", 0x7FFFFFFF},
    };
    for (const auto& c : cases)
    {
        std::string text = "stale";
        CLengthField field;
        EXPECT_EQ(c.result, NetDevice::DecodeLengthPrefixedScrambledFile(c.bytes.data(), c.bytes.size(), key, text,
                                                                          field))
            << c.what;
        EXPECT_EQ(c.text, text) << c.what;
        EXPECT_EQ(c.declared, field.declared) << c.what;
    }

    // The cap holds even where the bytes would be there.
    CLengthField field;
    field.declared = static_cast<int32_t>(NetDevice::CONFIG_MAX_BYTES);
    field.following = NetDevice::CONFIG_MAX_BYTES;
    EXPECT_TRUE(NetDevice::LengthFieldFits(field));
    ++field.declared;
    ++field.following;
    EXPECT_FALSE(NetDevice::LengthFieldFits(field));
}

} // namespace
