// What zbitool prints for names that hold control characters: one line per row, nothing the terminal
// would act on, and the rest of the text as it was.
#include "cli/CliSupport.h"

#include <gtest/gtest.h>

using imbrex::cli::escapeControls;

TEST(EscapeControls, ControlCharactersBecomeVisibleAndTheRestStays)
{
    EXPECT_EQ(escapeControls("a\nb\tc\rd"), "a\\nb\\tc\\rd");
    EXPECT_EQ(escapeControls(std::string("\x01\x1b[2J\x7f", 6)), "\\x01\\x1b[2J\\x7f");
    EXPECT_EQ(escapeControls(std::string("nul\0end", 7)), "nul\\x00end");
    // U+009B, a control that some terminals take as the start of a command sequence.
    EXPECT_EQ(escapeControls("x\xc2\x9by"), "x\\xc2\\x9by");
    // Letters beyond ASCII, a lone byte that is not UTF-8 and the separators of a row are kept.
    EXPECT_EQ(escapeControls("caf\xc3\xa9 \xc2\xa0|\\dir|"), "caf\xc3\xa9 \xc2\xa0|\\dir|");
    EXPECT_EQ(escapeControls("\xc2"), "\xc2");
    EXPECT_EQ(escapeControls(""), "");
}
