#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "translate/LanguageList.h"
#include "translate/TIvFileDictionary.h"
#include "translate/Translate.h"

using namespace imbrex::translate;

namespace {

std::vector<std::byte> bytesOf(std::string_view text)
{
    std::vector<std::byte> bytes;
    for (char c : text)
        bytes.push_back(static_cast<std::byte>(c));
    return bytes;
}

// text (ASCII or Latin-1 only) as UTF-16LE with the FF FE mark.
std::vector<std::byte> utf16Of(std::string_view latin1)
{
    std::vector<std::byte> bytes{std::byte{0xFF}, std::byte{0xFE}};
    for (char c : latin1) {
        bytes.push_back(static_cast<std::byte>(c));
        bytes.push_back(std::byte{0});
    }
    return bytes;
}

constexpr std::string_view kTable = "&OK\t&Aceptar\tO&K\r\n"
                                    "Delete partition?\t\xC2\xBF"
                                    "Eliminar la partici\xC3\xB3n?\tPartition l\xC3\xB6schen?\r\n"
                                    "&Cancel\t&Cancelar\t&Abbrechen\r\n"
                                    "Empty\t\tLeer\r\n";

} // namespace

TEST(DictionaryTest, FindsRowsOfAnUnsortedFileInEitherColumn)
{
    TIvFileDictionary dictionary;
    ASSERT_TRUE(dictionary.load(bytesOf(kTable), 1).ok());
    EXPECT_EQ(dictionary.fieldCount(), 3);
    EXPECT_EQ(dictionary.translateText("&Cancel"), "&Cancelar");
    EXPECT_EQ(dictionary.translateText("&OK"), "&Aceptar");
    EXPECT_EQ(dictionary.translateText("Delete partition?"), "\xC2\xBF"
                                                             "Eliminar la partici\xC3\xB3n?");
    EXPECT_EQ(dictionary.translateText("Not there"), "Not there");
    EXPECT_EQ(dictionary.translateText("Empty"), "Empty");
    ASSERT_TRUE(dictionary.load(bytesOf(kTable), 2).ok());
    EXPECT_EQ(dictionary.translateText("&Cancel"), "&Abbrechen");
}

TEST(DictionaryTest, ReadsUtf16WithTheMarkAndTheSameBytesWithoutItAs8Bit)
{
    // "Größe" in Latin-1: as UTF-16 it is read as such; without the mark the bytes are not UTF-8 and are
    // read as Windows-1252.
    const std::string latin1 = "Size\tGr\xF6\xDF"
                               "e\n";
    TIvFileDictionary wide;
    ASSERT_TRUE(wide.load(utf16Of(latin1), 1).ok());
    EXPECT_EQ(wide.translateText("Size"), "Gr\xC3\xB6\xC3\x9F"
                                          "e");
    TIvFileDictionary narrow;
    ASSERT_TRUE(narrow.load(bytesOf(latin1), 1).ok());
    EXPECT_EQ(narrow.translateText("Size"), "Gr\xC3\xB6\xC3\x9F"
                                            "e");
    // Without the mark, UTF-16 bytes are not taken as UTF-16: the NUL after the line end makes a row of
    // one field.
    std::vector<std::byte> unmarked = utf16Of(latin1);
    unmarked.erase(unmarked.begin(), unmarked.begin() + 2);
    TIvFileDictionary raw;
    EXPECT_FALSE(raw.load(unmarked, 1).ok());
}

TEST(DictionaryTest, LoadingErrorsNameTheRowAndLeaveTheDictionaryClosed)
{
    TIvFileDictionary dictionary;
    DictionaryStatus incomplete = dictionary.load(bytesOf("A\tB\tC\nD\tE\nF\tG\tH\n"), 1);
    EXPECT_EQ(incomplete.error, "The translation line \"D\tE\" (#1) is missing one or more strings");
    EXPECT_FALSE(dictionary.isOpen());
    EXPECT_EQ(dictionary.translateText("A"), "A");

    DictionaryStatus null = dictionary.load(bytesOf("A\tB\n\tE\n"), 1);
    EXPECT_EQ(null.error, "A null native string on line 1");

    EXPECT_EQ(dictionary.load(bytesOf("A\tB\n"), 2).error, "Language index 2 is out of range");
    EXPECT_FALSE(dictionary.open("/nonexistent/translat.txt", 1).ok());

    // Truncated UTF-16 and lone surrogates load without reading past the end.
    std::vector<std::byte> broken = utf16Of("A\tB");
    broken.push_back(std::byte{0x00});
    broken.push_back(std::byte{0xD8});
    broken.push_back(std::byte{0x41});
    EXPECT_TRUE(dictionary.load(broken, 1).ok());
}

TEST(DictionaryTest, OptionsDecideWhatAMissingTranslationGives)
{
    TIvFileDictionary dictionary;
    ASSERT_TRUE(dictionary.load(bytesOf(kTable), 1).ok());
    dictionary.setOptions(kTagUnsuccessfulTranslation);
    EXPECT_EQ(dictionary.translateText("Nope"), "@Nope@");
    dictionary.setOptions(kUseTranslationException | kTagUnsuccessfulTranslation);
    EXPECT_EQ(dictionary.translate("Nope").error, "Could not translate the world \"Nope\"");
    EXPECT_EQ(dictionary.translate("Empty").error, "The translation for the world \"Empty\" was missing");
    EXPECT_EQ(dictionary.translateText("Empty"), "Empty");
}

TEST(LanguageListTest, ParsesEntriesAndRejectsMalformedLinesInItsOwnWords)
{
    LanguageListResult list = parseLanguageList("# languages\n0\t0409\tEnglish\n\n1\t0C0A\tEspa\xC3\xB1ol\n");
    ASSERT_TRUE(list.ok()) << list.error;
    ASSERT_EQ(list.languages.size(), 2u);
    EXPECT_EQ(list.languages[1].column, 1);
    EXPECT_EQ(list.languages[1].localeId, 0x0C0Au);
    EXPECT_EQ(primaryLanguage(0x0C0A), 0x0Au);
    EXPECT_EQ(subLanguage(0x0C0A), 3u);

    EXPECT_EQ(parseLanguageList("0 0409 English\n").error,
              "Line 1 of the language list needs a column, a locale id and a name separated by TABs: "
              "\"0 0409 English\"");
    EXPECT_FALSE(parseLanguageList("x\t0409\tEnglish\n").ok());
    EXPECT_FALSE(parseLanguageList("0\tzz\tEnglish\n").ok());
    EXPECT_FALSE(parseLanguageList("0\t0409\t\n").ok());
    EXPECT_FALSE(parseLanguageList("-1\t0409\tEnglish\n").ok());
}

TEST(LanguageListTest, TheShippedFilesOfferALanguageThatTranslates)
{
    InterfaceLanguage language;
    ASSERT_TRUE(language.open(IMBREX_APP_DIR "/translat.txt", IMBREX_APP_DIR "/language.txt").ok());
    ASSERT_GE(language.languages().size(), 2u);
    EXPECT_EQ(language.selectLocale(0x0407).error, "The locale (7, 1) is not supported by the dictionary");
    EXPECT_EQ(language.selectLanguage(9).error, "Language index 9 is out of range");
    ASSERT_TRUE(language.selectLanguage(1).ok());
    EXPECT_NE(language.dictionary().translateText("Delete partition?"), "Delete partition?");
    EXPECT_EQ(language.dictionary().translateText("Total %d partitions").find("%d") != std::string::npos,
              true);
    ASSERT_TRUE(language.selectLanguage(0).ok());
    EXPECT_EQ(language.dictionary().translateText("Delete partition?"), "Delete partition?");
}
