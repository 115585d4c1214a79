#include "engine/ConvertName.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

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
        useNativeNameConversions(true);
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

// Every conversion of the names below, in both directions and into a destination too small for some.
std::vector<std::string> convertTrickyNames()
{
    const std::u16string wide[] = {
        u"PLAIN.TXT",
        u"del\x7F.txt",
        u"smile \U0001F600 twice \U0001F600",
        {u'a', char16_t{0xD83D}, u'b'}, // a high surrogate without its low one
        {char16_t{0xDE00}, u'c'},       // a low surrogate alone
        {u'd', char16_t{0xD83D}},       // a high surrogate at the end
        u"\u00DCn\u00EFc\u00F6d\u00E9 \u20AC",
    };
    const std::string narrow[] = {
        "PLAIN.TXT",  "del\x7F",          "\xFF\xFEz",   "\xC0\xAF", "\xED\xA0\x80x", "\xF4\x90\x80\x80",
        "ab\xE2\x82", "\xF0\x9F\x98\x80", "caf\xC3\xA9", "\xE9z",    "\x80\xBF",
    };
    std::vector<std::string> results;
    auto add = [&](int rc, const void *data, size_t bytes) {
        results.push_back(std::to_string(rc) + ":" + std::string(static_cast<const char *>(data), bytes));
    };
    for (const size_t size : {size_t{64}, size_t{6}}) {
        for (const std::u16string &name : wide) {
            char out[64] = {};
            add(ConvertName(kNameAnsi, out, kNameUtf16, name.c_str(), size), out, sizeof out);
            add(ConvertName(kNameOem, out, kNameUtf16, name.c_str(), size), out, sizeof out);
        }
        for (const std::string &name : narrow) {
            char16_t wideOut[32] = {};
            add(ConvertName(kNameUtf16, wideOut, kNameAnsi, name.c_str(), size), wideOut, sizeof wideOut);
            add(ConvertName(kNameUtf16, wideOut, kNameOem, name.c_str(), size), wideOut, sizeof wideOut);
            char out[64] = {};
            add(ConvertName(kNameAnsi, out, kNameOem, name.c_str(), size), out, sizeof out);
            add(ConvertName(kNameOem, out, kNameAnsi, name.c_str(), size), out, sizeof out);
        }
    }
    return results;
}

TEST_F(ConvertNameTest, NativeConversionsGiveWhatTheConvertersGive)
{
    for (const char *ansi : {"UTF-8", "CP1252"}) {
        SCOPED_TRACE(ansi);
        ASSERT_EQ(setAnsiCharset(ansi), 0);
        useNativeNameConversions(true);
        const std::vector<std::string> native = convertTrickyNames();
        useNativeNameConversions(false);
        const std::vector<std::string> converted = convertTrickyNames();
        ASSERT_EQ(native.size(), converted.size());
        for (size_t i = 0; i < native.size(); ++i)
            EXPECT_EQ(native[i], converted[i]) << "conversion " << i;
    }
}

TEST_F(ConvertNameTest, ThreadsConvertAtTheSameTimeWithoutDisturbingEachOther)
{
    ASSERT_EQ(setAnsiCodePage(1252), 0);
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < wrong.size(); ++t)
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 5000; ++i) {
                char out[32];
                char16_t wide[32];
                ConvertName(kNameAnsi, out, kNameOem, "\x82t\x82 \xC9\xCD\xBB", sizeof out); // 437: "été ╔═╗"
                ConvertName(kNameUtf16, wide, kNameAnsi, out, sizeof wide);
                if (std::strcmp(out, "\xE9t\xE9 ___") != 0 || std::u16string(wide) != u"\u00E9t\u00E9 ___")
                    ++wrong[t];
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST_F(ConvertNameTest, ALetterHeldBackForACombiningMarkIsNotLostAtTheEnd)
{
    // Code page 1255 composes a letter with the points that follow it, so its converter holds each letter
    // back until it sees what comes next.
    if (setAnsiCodePage(1255) != 0)
        GTEST_SKIP() << "no code page 1255 here";
    EXPECT_EQ(ansiToUtf16("ab\xE0"), u"ab\u05D0");
}

} // namespace
