// The small text helpers every layer shares: counted compares must not
// match a prefix, path splits must agree with the copies they replaced, and
// the UTF-8 flavours must differ only in how they treat bad input.
#include <gtest/gtest.h>
#include <string>
#include "PathText.h"
#include "TextCodec.h"

namespace
{

TEST(EqualsNoCase, ComparesWholeCountedTexts)
{
    struct
    {
        std::wstring a;
        std::wstring b;
        bool equal;
    } const cases[] = {
        {L"VxAppManager.dll", L"vxappmanager.DLL", true},
        {L"abc", L"abcd", false},                                   // a prefix is not equal
        {L"abcd", L"abc", false},
        {std::wstring(L"ab\0c", 4), std::wstring(L"AB\0C", 4), true}, // NULs count
        {std::wstring(L"ab\0c", 4), L"ab", false},
        {L"", L"", true},
        {L"\u00e9t\u00e9", L"\u00c9T\u00c9", true},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.equal, Common::EqualsNoCase(c.a, c.b)) << c.a << L" / " << c.b;
        EXPECT_EQ(c.equal, Common::EqualsNoCase(c.b, c.a)) << c.b << L" / " << c.a;
    }
}

TEST(EqualsNoCase, TerminatedTextsStopAtTheFirstNul)
{
    const wchar_t field[8] = L"Ab\0cd";
    EXPECT_TRUE(Common::EqualsNoCase(field, L"aB"));
    EXPECT_FALSE(Common::EqualsNoCase(field, L"aBcd"));
    // Counted, the same field is longer.
    EXPECT_FALSE(Common::EqualsNoCase(std::wstring_view(field, 5), L"aB"));
}

TEST(PathText, SplitsAtTheLastSeparatorOfEitherKind)
{
    struct
    {
        std::wstring path;
        std::wstring file;
        std::wstring folder;
    } const cases[] = {
        {L"C:\\a\\b.exe", L"b.exe", L"C:\\a"},
        {L"b.exe", L"b.exe", L""},
        {L"a/b", L"b", L"a"},
        {L"C:\\a/b\\c.dll", L"c.dll", L"C:\\a/b"},
        {L"C:\\a\\", L"", L"C:\\a"},
        {L"\\b", L"b", L""},
        {L"", L"", L""},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.file, Common::FileNamePart(c.path)) << c.path;
        EXPECT_EQ(c.folder, Common::FolderPart(c.path)) << c.path;
    }
}

TEST(Utf8, RoundTripsEveryPlane)
{
    const std::wstring text = L"A\u00e9\u20ac\U0001F600";
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::string strict = "old";
    EXPECT_TRUE(TextCodec::WideToUtf8Strict(text, strict));
    EXPECT_EQ(utf8, strict);
    EXPECT_EQ(utf8, TextCodec::WideToUtf8Lenient(text));
    EXPECT_EQ(utf8, TextCodec::WideToUtf8(text));
    EXPECT_EQ(text, TextCodec::Utf8ToWideLenient(utf8));
    EXPECT_EQ(text, TextCodec::Utf8ToWide(utf8));
}

TEST(Utf8, BadInputIsReplacedOrRefusedAsEachFlavourPromises)
{
    // A cut sequence reads as U+FFFD.
    EXPECT_EQ(std::wstring(L"a\uFFFD"), TextCodec::Utf8ToWideLenient("a\xC3"));

    // An unpaired surrogate: the strict flavour refuses it and leaves
    // nothing behind, the lenient one writes U+FFFD.
    const std::wstring lone(1, static_cast<wchar_t>(0xD800));
    std::string strict = "old";
    EXPECT_FALSE(TextCodec::WideToUtf8Strict(L"x" + lone, strict));
    EXPECT_TRUE(strict.empty());
    EXPECT_EQ(std::string("x\xEF\xBF\xBD"), TextCodec::WideToUtf8Lenient(L"x" + lone));

    EXPECT_TRUE(TextCodec::WideToUtf8Strict(L"", strict));
    EXPECT_TRUE(strict.empty());
    EXPECT_TRUE(TextCodec::Utf8ToWideLenient("").empty());
}

} // namespace
