#include "codec/base64.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Encode(std::string_view bytes) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<std::int32_t>(bytes.size()));
}

TEST(Base64Test, EncodesFullGroupsAndPadsPartialOnes) {
    EXPECT_EQ(Encode("abc"), "YWJj");
    EXPECT_EQ(Encode("ab"), "YWI=");
    EXPECT_EQ(Encode("a"), "YQ==");
    EXPECT_EQ(Encode("\xFF"), "/w==");
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Base64Encode(nullptr, 0), "");
    // RFC 4648, section 10.
    EXPECT_EQ(Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Encode("fooba"), "Zm9vYmE=");
    // Every alphabet position is reachable, the last two included.
    EXPECT_EQ(Encode(std::string("\xFB\xEF\xBE", 3)), "++++");
    EXPECT_EQ(Encode(std::string("\xFF\xFF\xFF", 3)), "////");
}

TEST(Base64Test, DecodeStopsQuietlyAtFirstCharacterOutsideTheAlphabet) {
    EXPECT_EQ(Base64Decode("YWJj\r\n"), "abc");
    EXPECT_EQ(Base64Decode("YWJj\r\nYWJj"), "abc");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YWI"), "ab");
    EXPECT_EQ(Base64Decode("YQ"), "a");
    EXPECT_EQ(Base64Decode("Y"), "");
    EXPECT_EQ(Base64Decode("YW Jj"), "a");
    EXPECT_EQ(Base64Decode(""), "");
    EXPECT_EQ(Base64Decode("=YWJj"), "");
    EXPECT_EQ(Base64Decode("-YWJj"), "");
    // Bytes of 0x80 and above end the data like any other foreign byte.
    EXPECT_EQ(Base64Decode("YWJj\xC3YWJj"), "abc");
    EXPECT_EQ(Base64Decode(std::string("YWJj\0YWJj", 9)), "abc");
}

// Only what an encoder writes: whole groups, pads only at the end, no
// leftover bits, no foreign byte anywhere.
TEST(Base64Test, StrictDecodeTakesOnlyCanonicalText) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"", std::string()},
        {"YWJj", std::string("abc")},
        {"YWI=", std::string("ab")},
        {"YQ==", std::string("a")},
        {"AAAA", std::string(3, '\0')},
        {"YWJj\r\n", std::nullopt},
        {"YWI", std::nullopt},
        {"YQ=", std::nullopt},
        {"YW=j", std::nullopt},
        {"YWJ=YWJj", std::nullopt},
        {"YR==", std::nullopt},  // leftover bits set
        {"YW Jj", std::nullopt},
        {"====", std::nullopt},
        {std::string("YWJj\0YWJj", 9), std::nullopt},
        {"not base64!", std::nullopt},
    };
    for (const auto& [text, bytes] : cases) {
        EXPECT_EQ(Base64DecodeStrict(text), bytes) << text;
    }
}

TEST(Base64Test, DecodeKeepsNulBytes) {
    const std::string plain("\0user\0pass", 10);
    const std::string decoded = Base64Decode(Encode(plain));
    EXPECT_EQ(decoded.size(), 10u);
    EXPECT_EQ(decoded, plain);
    EXPECT_EQ(Base64Decode("AAAA"), std::string(3, '\0'));
}

TEST(Base64Test, RoundTripsSeededRandomInputsOfEveryLengthUpTo300) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int length = 0; length <= 300; ++length) {
        std::string input(static_cast<std::size_t>(length), '\0');
        for (char& c : input) {
            c = static_cast<char>(byte(rng));
        }
        const std::string encoded = Encode(input);
        ASSERT_EQ(encoded.size(), static_cast<std::size_t>((length + 2) / 3 * 4)) << length;
        ASSERT_EQ(encoded.find_first_not_of(std::string(Base64Chars) + "="), std::string::npos);
        ASSERT_EQ(Base64Decode(encoded), input) << "length " << length;
    }
}

}  // namespace
