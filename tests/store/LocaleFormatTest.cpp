#include "platform/LocaleFormat.h"

#include <clocale>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace imbrex::platform {
namespace {

TEST(GroupDigitsTest, GroupsOfThree)
{
    EXPECT_EQ(groupDigits(0, ",", "\3"), "0");
    EXPECT_EQ(groupDigits(999, ",", "\3"), "999");
    EXPECT_EQ(groupDigits(1000, ",", "\3"), "1,000");
    EXPECT_EQ(groupDigits(1234567, ".", "\3"), "1.234.567");
    EXPECT_EQ(groupDigits(-1234567, ",", "\3"), "-1,234,567");
    EXPECT_EQ(groupDigits(INT64_MIN, ",", "\3"), "-9,223,372,036,854,775,808");
}

TEST(GroupDigitsTest, LocaleGroupingRules)
{
    EXPECT_EQ(groupDigits(1234567, ",", "\3\2"), "12,34,567");  // last size repeats
    EXPECT_EQ(groupDigits(1234567, ",", "\3\x7f"), "1234,567"); // CHAR_MAX ends the grouping
    EXPECT_EQ(groupDigits(1234567, ",", ""), "1234567");
    EXPECT_EQ(groupDigits(1234567, "\xe2\x80\xaf", "\3"), "1\xe2\x80\xaf"
                                                          "234\xe2\x80\xaf"
                                                          "567");
}

class CLocaleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = std::setlocale(LC_ALL, nullptr);
        std::setlocale(LC_ALL, "C");
    }
    void TearDown() override { std::setlocale(LC_ALL, m_saved.c_str()); }

    std::string m_saved;
};

TEST_F(CLocaleTest, FallsBackToUsConventions)
{
    EXPECT_EQ(formatGroupedNumber(1234), "1,234");
    EXPECT_EQ(formatGroupedNumber(4294967295), "4,294,967,295");
    EXPECT_EQ(formatShortDate(2024, 1, 5), "1/5/2024");
    EXPECT_EQ(formatShortDate(1980, 12, 31), "12/31/1980");
    EXPECT_EQ(formatShortDate(800, 3, 1), "3/1/0800");
}

TEST_F(CLocaleTest, InstalledFormatterAnswersUntilRemoved)
{
    setLocaleFormatter({[](int64_t value) { return "n" + std::to_string(value); }, {}});
    EXPECT_EQ(formatGroupedNumber(1234), "n1234");
    EXPECT_EQ(formatShortDate(2024, 1, 5), "1/5/2024"); // empty member keeps the system's

    setLocaleFormatter({{}, [](int year, int month, int day) {
                            return std::to_string(day) + "." + std::to_string(month) + "." +
                                   std::to_string(year);
                        }});
    EXPECT_EQ(formatGroupedNumber(1234), "1,234");
    EXPECT_EQ(formatShortDate(2024, 1, 5), "5.1.2024");

    setLocaleFormatter({});
    EXPECT_EQ(formatShortDate(2024, 1, 5), "1/5/2024");
}

} // namespace
} // namespace imbrex::platform
