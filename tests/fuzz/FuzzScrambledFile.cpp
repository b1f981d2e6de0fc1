// The byte layer of the scrambled configuration files: a file's bytes as
// the readers take them apart, in both forms and with both keys. The first
// byte picks the form and the key; the rest is the file.
#include <cstdint>
#include <string>

#include "ConfigFiles.h"
#include "FuzzSupport.h"
#include "ScrambleBytes.h"

using namespace NetDevice;

namespace
{

void WholeFile(const std::string& bytes, const char* key)
{
    std::string text = bytes;
    Scramble(text, key);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(MakeScrambledFile(text, key) == bytes);
}

void LengthPrefixed(const std::string& bytes, const char* key)
{
    std::string text = "stale";
    CLengthField field;
    const ELengthDecode rc = DecodeLengthPrefixedText(bytes.data(), bytes.size(), key, text, field);
    if (bytes.size() < LENGTH_FIELD_BYTES)
    {
        FUZZ_CHECK(rc == ELengthDecode::Decoded && text.empty() && field.declared == 0);
        return;
    }
    FUZZ_CHECK(field.following == bytes.size() - LENGTH_FIELD_BYTES);
    if (rc != ELengthDecode::Decoded)
    {
        FUZZ_CHECK(rc == ELengthDecode::BadLength && text.empty() && !LengthFieldFits(field));
        return;
    }
    FUZZ_CHECK(field.declared >= 0 && static_cast<uint32_t>(field.declared) <= CONFIG_MAX_BYTES);
    FUZZ_CHECK(text.size() == static_cast<size_t>(field.declared));
    // Writing the text back gives the file up to the end of the text.
    FUZZ_CHECK(MakeLengthPrefixedScrambledFile(text, key) == bytes.substr(0, LENGTH_FIELD_BYTES + text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const char* const key = (data[0] & 1) ? IOT_CONFIG_KEY : SMARTLIGHTING_CONFIG_KEY;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 2)
        LengthPrefixed(bytes, key);
    else
        WholeFile(bytes, key);
    return 0;
}
