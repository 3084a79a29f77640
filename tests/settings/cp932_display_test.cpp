#include "settings/cp932_display.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp932DisplayTest, ConvertsDoubleAndSingleByteCharacters) {
    // "テスト" in Shift_JIS, then half-width katakana "ｱ", then ASCII.
    EXPECT_EQ(Cp932ForDisplay("\x83\x65\x83\x58\x83\x67\xB1 ok"), "テストｱ ok");
}

TEST(Cp932DisplayTest, EscapesWhatMustNotReachTheTerminalRaw) {
    // 0x80 has no character; ESC, a backslash and a quote are escaped; a
    // lead byte cut off at the end is shown, not dropped.
    EXPECT_EQ(Cp932ForDisplay("a\x80"
                              "b\x1B[2J\\\"c\x83"),
              "a\\x80b\\x1B[2J\\\\\\\"c\\x83");
    EXPECT_EQ(Cp932ForDisplay(std::string("\0x", 2)), "\\x00x");
}

}  // namespace
