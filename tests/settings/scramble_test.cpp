#include "settings/scramble.h"

#include <gtest/gtest.h>

#include "settings/key_paths.h"

namespace {

TEST(ScrambleTest, ShiftsEachByteByThePartOfItsPosition) {
    EXPECT_EQ(ScrambleText("AAAAAA", 1, 2, 3, 4), "BCDEBC");
    EXPECT_EQ(UnscrambleText("BCDEBC", 1, 2, 3, 4), "AAAAAA");
    EXPECT_EQ(SettingsKeyPath(ScrambleKey{2, 3, 4, 3}), "Software\\Ydohdhpo");
    // All-zero parts leave texts, and the product name, as typed.
    EXPECT_EQ(SettingsKeyPath(ScrambleKey{}), "Software\\Wakebell");
    // Only the low five bits of a part count.
    EXPECT_EQ(ScrambleText("aaaa", 0x21, 0x22, -1, 0x100), ScrambleText("aaaa", 1, 2, 31, 0));
}

TEST(ScrambleTest, WrapsAroundAndKeepsZeroBytes) {
    const std::string text("\xFA\xFF\xFE\0\xFA", 5);
    const std::string scrambled = ScrambleText(text, 6, 1, 2, 3);
    EXPECT_EQ(scrambled, std::string("\0\0\0\x03\0", 5));
    EXPECT_EQ(UnscrambleText(scrambled, 6, 1, 2, 3), text);
}

TEST(ScrambleTest, NewKeyComesFromTheSecondsOfTheClock) {
    ScrambleKey current{9, 9, 9, 9};
    EXPECT_EQ(NewScrambleKey(current, 0), "Wakebell");
    EXPECT_EQ(current, (ScrambleKey{0, 0, 0, 0}));
    EXPECT_EQ(NewScrambleKey(current, 59), ScrambleText("Wakebell", 2, 3, 4, 3));
    EXPECT_EQ(current, (ScrambleKey{59 % 3, 59 % 4, 59 % 5, 59 % 7}));
    EXPECT_EQ(ScrambleKeyFromSeconds(60), ScrambleKeyFromSeconds(0));
}

}  // namespace
