#include "engine/ConvertName.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

using namespace imbrex::engine;

namespace {

// Restores the default character sets after each test.
class ConvertNameTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(setOemCodePage(437), 0);
        ASSERT_EQ(setAnsiCharset("UTF-8"), 0);
    }
    void TearDown() override
    {
        setOemCodePage(437);
        setAnsiCodePage(0);
    }
};

TEST_F(ConvertNameTest, Utf16ToAnsi1252ReplacesCharactersOutsideTheSet)
{
    ASSERT_EQ(setAnsiCodePage(1252), 0);
    const char16_t name[] = u"Łódź café.txt";
    char out[64];
    ASSERT_EQ(ConvertName(kNameAnsi, out, kNameUtf16, name, sizeof out), 0);
    EXPECT_STREQ(out, "_\xF3"
                      "d_ caf\xE9.txt");
}

TEST_F(ConvertNameTest, OemBoxCharactersConvertToUtf16AndUtf8)
{
    const char oem[] = "\xC9\xCD\xBB\x81";
    char16_t wide[8];
    ASSERT_EQ(ConvertName(kNameUtf16, wide, kNameOem, oem, sizeof wide), 0);
    EXPECT_EQ(std::u16string(wide), u"╔═╗ü");

    char ansi[32];
    ASSERT_EQ(ConvertName(kNameAnsi, ansi, kNameOem, oem, sizeof ansi), 0);
    EXPECT_STREQ(ansi, "╔═╗ü");
    // Kind 2 targets read OEM the same way.
    ASSERT_EQ(ConvertName(kNameText, ansi, kNameOem, oem, sizeof ansi), 0);
    EXPECT_STREQ(ansi, "╔═╗ü");

    char back[8];
    ASSERT_EQ(ConvertName(kNameOem, back, kNameAnsi, "╔═╗ü€", sizeof back), 0);
    EXPECT_STREQ(back, "\xC9\xCD\xBB\x81_"); // no euro sign in 437
}

TEST_F(ConvertNameTest, ByteWiseFormsOfKindTwo)
{
    const char16_t wide[] = u"A\u0141\u00E9";
    char narrow[8];
    ASSERT_EQ(ConvertName(kNameText, narrow, kNameUtf16, wide, sizeof narrow), 0);
    EXPECT_STREQ(narrow, "A\x41\xE9"); // low bytes only

    char16_t widened[8];
    ASSERT_EQ(ConvertName(kNameUtf16, widened, kNameText, "\xE9z", sizeof widened), 0);
    EXPECT_EQ(std::u16string(widened), u"\u00E9z");
}

TEST_F(ConvertNameTest, CopiesStopAtTheDestinationWithoutSplittingCharacters)
{
    char out[6];
    ASSERT_EQ(ConvertName(kNameAnsi, out, kNameAnsi, "abcdefgh", sizeof out), 0);
    EXPECT_STREQ(out, "abcde");
    // "ééé" is six bytes in UTF-8: only two whole characters fit before the terminator.
    ASSERT_EQ(ConvertName(kNameAnsi, out, kNameUtf16, u"ééé", sizeof out), 0);
    EXPECT_STREQ(out, "éé");
    // A surrogate pair is not split either; an unpaired surrogate becomes "_".
    char16_t wide[3];
    ASSERT_EQ(ConvertName(kNameUtf16, wide, kNameAnsi, "a😀", sizeof wide), 0);
    EXPECT_EQ(std::u16string(wide), u"a");
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    char narrow[8];
    ASSERT_EQ(ConvertName(kNameAnsi, narrow, kNameUtf16, lone, sizeof narrow), 0);
    EXPECT_STREQ(narrow, "x_y");
    EXPECT_EQ(ConvertName(kNameAnsi, narrow, kNameUtf16, lone, 0), 0);
}

TEST_F(ConvertNameTest, RefusesUnknownKindsAndCharsets)
{
    char out[4];
    EXPECT_EQ(ConvertName(4, out, kNameAnsi, "a", sizeof out), 1);
    EXPECT_EQ(ConvertName(kNameAnsi, out, -1, "a", sizeof out), 1);
    EXPECT_EQ(ConvertName(kNameAnsi, nullptr, kNameAnsi, "a", sizeof out), 1);
    EXPECT_EQ(setOemCharset("NO-SUCH-CHARSET"), 1);
    EXPECT_EQ(oemCharset(), "CP437");
}

TEST_F(ConvertNameTest, InvalidAnsiBytesBecomeUnderscoresInUtf16)
{
    EXPECT_EQ(ansiToUtf16("a\xFFz"), u"a_z");
    EXPECT_EQ(utf16ToAnsi(u"Ünïcödé ñame.bin"), "Ünïcödé ñame.bin");
}

} // namespace
