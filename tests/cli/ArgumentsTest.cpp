#include "cli/Arguments.h"

#include <gtest/gtest.h>

using namespace imbrex::cli;

TEST(Arguments, SplitsPositionalsOptionsAndFlags)
{
    Arguments args;
    auto error =
        parseArguments({"img.zbi", "--name", "My disk", "raw1", "--comment=a=b", "--force", "--", "--raw"},
                       {"--name", "--comment"}, {"--force"}, &args);
    ASSERT_FALSE(error);
    EXPECT_EQ(args.positional, (std::vector<std::string>{"img.zbi", "raw1", "--raw"}));
    EXPECT_EQ(args.option("--name"), "My disk");
    EXPECT_EQ(args.option("--comment"), "a=b");
    EXPECT_TRUE(args.flag("--force"));
    EXPECT_FALSE(args.option("--missing"));
}

TEST(Arguments, RefusesUnknownOptionsAndMissingValues)
{
    Arguments args;
    EXPECT_EQ(parseArguments({"--what"}, {}, {}, &args), "unknown option --what");
    EXPECT_EQ(parseArguments({"--name"}, {"--name"}, {}, &args), "option --name needs a value");
    EXPECT_EQ(parseArguments({"--force=yes"}, {}, {"--force"}, &args), "option --force takes no value");
}

TEST(Arguments, PartitionNumbersAreWholePositiveNumbers)
{
    EXPECT_EQ(parsePartitionNumber("1"), 1u);
    EXPECT_EQ(parsePartitionNumber("4096"), 4096u);
    EXPECT_FALSE(parsePartitionNumber("0"));
    EXPECT_FALSE(parsePartitionNumber("-1"));
    EXPECT_FALSE(parsePartitionNumber("2x"));
    EXPECT_FALSE(parsePartitionNumber(""));
    EXPECT_FALSE(parsePartitionNumber("99999999999"));
}
