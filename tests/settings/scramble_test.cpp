#include "settings/scramble.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/key_paths.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(static_cast<unsigned char>(v));
    }
    return out;
}

TEST(ScrambleTest, ShiftsEachBytePartByPositionModuloFour) {
    EXPECT_EQ(ScrambleText("AAAAAA", 1, 2, 3, 4), "BCDEBC");
    EXPECT_EQ(UnscrambleText("BCDEBC", 1, 2, 3, 4), "AAAAAA");
    // The worked example of the store's documentation.
    EXPECT_EQ(SettingsKeyPath(ScrambleKey{2, 3, 4, 3}), "Software\\Ydohdhpo");
}

TEST(ScrambleTest, AllZeroKeyLeavesTextsAndProductNameAsTyped) {
    const ScrambleKey zero{};
    EXPECT_EQ(ScrambleText("smtp.example.jp", zero), "smtp.example.jp");
    EXPECT_EQ(SettingsKeyPath(zero), "Software\\Wakebell");
}

TEST(ScrambleTest, WrapsAroundAndKeepsZeroBytes) {
    // 0xFA + 6 is exactly 256: the scrambled byte is 0 and must come back.
    const std::string text = Bytes({0xFA, 0xFF, 0xFE, 0x00, 0xFA});
    const std::string scrambled = ScrambleText(text, 6, 1, 2, 3);
    EXPECT_EQ(scrambled, Bytes({0x00, 0x00, 0x00, 0x03, 0x00}));
    EXPECT_EQ(UnscrambleText(scrambled, 6, 1, 2, 3), text);
}

TEST(ScrambleTest, PartsCountByTheirLowFiveBitsOnly) {
    EXPECT_EQ(ScrambleText("aaaa", 0x21, 0x22, -1, 0x100), ScrambleText("aaaa", 1, 2, 31, 0));
}

TEST(ScrambleTest, RoundTripsAnyBytesOfAnyLength) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> part(-1000, 1000);
    for (int round = 0; round < 200; ++round) {
        std::string text(static_cast<std::size_t>(round * 3), '\0');
        for (char& c : text) {
            c = static_cast<char>(byte(random));
        }
        const ScrambleKey key{part(random), part(random), part(random), part(random)};
        const std::string scrambled = ScrambleText(text, key);
        ASSERT_EQ(scrambled.size(), text.size());
        ASSERT_EQ(UnscrambleText(scrambled, key), text);
    }
}

TEST(ScrambleTest, KeyComesFromTheSecondsOfTheClock) {
    ScrambleKey current{9, 9, 9, 9};
    EXPECT_EQ(NewScrambleKey(current, 0), "Wakebell");
    EXPECT_EQ(current, (ScrambleKey{0, 0, 0, 0}));

    const std::string name = NewScrambleKey(current, 59);
    EXPECT_EQ(current, (ScrambleKey{59 % 3, 59 % 4, 59 % 5, 59 % 7}));
    EXPECT_EQ(name, ScrambleText("Wakebell", current));

    EXPECT_EQ(ScrambleKeyFromSeconds(60), ScrambleKeyFromSeconds(0));
    EXPECT_EQ(ScrambleKeyFromSeconds(-1), ScrambleKeyFromSeconds(59));
}

}  // namespace
