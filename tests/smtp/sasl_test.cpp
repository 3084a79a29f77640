#include "smtp/sasl.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

std::string OpenSslHmacMd5Hex(const std::string& key, const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest, &length);
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 15];
    }
    return hex;
}

// RFC 2195, section 2.
TEST(SaslTest, CramMd5GivesTheRfcExample) {
    EXPECT_EQ(
        CramMd5Response("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
        "tim b913a602c7eda7a495b4e6e7334d3890");
}

// The key is hashed only when longer than one 64-byte block.
TEST(SaslTest, HmacMd5AgreesWithOpenSslAroundTheBlockSize) {
    for (const std::size_t keyLength : {0U, 1U, 16U, 63U, 64U, 65U, 200U}) {
        const std::string key(keyLength, static_cast<char>('a' + keyLength % 26));
        const std::string text = "<challenge." + std::to_string(keyLength) + "@example>";
        EXPECT_EQ(HmacMd5Hex(key, text), OpenSslHmacMd5Hex(key, text)) << keyLength;
    }
}

// RFC 2831, section 4: the example's response directive.
TEST(SaslTest, DigestMd5GivesTheRfcExample) {
    const DigestInputs inputs{"chris",          "secret",         "elwood.innosoft.com",
                              "OA6MG9tEQGm2hh", "OA6MHXh6VqTrRk", "imap/elwood.innosoft.com"};
    EXPECT_EQ(DigestMd5ResponseHash(inputs), "d388dad90d4bbd760a152321f2143af7");
    // The server's proof in the same exchange: "rspauth=ea40f603...".
    EXPECT_EQ(DigestMd5ResponseAuth(inputs), "ea40f60335c427b5527b84dbabcdfffd");
    EXPECT_EQ(DigestMd5Response(inputs),
              "charset=utf-8,username=\"chris\",realm=\"elwood.innosoft.com\","
              "nonce=\"OA6MG9tEQGm2hh\",nc=00000001,cnonce=\"OA6MHXh6VqTrRk\","
              "digest-uri=\"imap/elwood.innosoft.com\","
              "response=d388dad90d4bbd760a152321f2143af7,qop=auth");
}

TEST(SaslTest, DigestMd5ResponseOmitsAnEmptyRealmAndEscapesQuotedValues) {
    const DigestInputs inputs{"a\"b\\c", "pw", "", "n", "c", "smtp/127.0.0.1"};
    const std::string text = DigestMd5Response(inputs);
    EXPECT_EQ(text.find("realm="), std::string::npos);
    EXPECT_EQ(text.rfind("charset=utf-8,username=\"a\\\"b\\\\c\",nonce=\"n\",nc=00000001,", 0), 0U)
        << text;
}

struct ChallengeCase {
    const char* text;
    bool valid;
    const char* nonce = "";
    const char* realm = "";
};

// RFC 2831, 2.1.1 and 7.1: a list of name=value pairs, read pair by pair.
TEST(SaslTest, ParsesTheDigestChallengeAsAListOfPairs) {
    const std::vector<ChallengeCase> cases = {
        {"realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\","
         "algorithm=md5-sess,charset=utf-8",
         true, "OA6MG9tEQGm2hh", "elwood.innosoft.com"},
        {"realm=\"a\\\"b\",nonce=\"x\\\\y\"", true, "x\\y", "a\"b"},
        {" realm = \"r\" ,\t, NONCE = n1 ,,", true, "n1", "r"},
        {"nonce=abc,realm=\"r\"", true, "abc", "r"},
        {"realm=\"first\",realm=\"second\",nonce=\"n\"", true, "n", "first"},
        {"nonce=\"x,realm=evil\",qop=\"auth\"", true, "x,realm=evil", ""},
        {"nonce=\"x\",xrealm=\"evil\"", true, "x", ""},
        {"nonce=abc realm=\"r\"", false},  // no comma: the nonce must not run on
        {"realm=\"r\",qop=\"auth\"", false},
        {"nonce=\"a\",nonce=\"b\"", false},
        {"nonce=\"\"", false},
        {"nonce=\"abc", false},
        {"nonce=\"abc\\", false},
        {"nonce=\"abc\",realm=\"r", false},
        {"nonce=\"a\x01\"", false},
        {"nonce=\"n\"x", false},
        {"nonce", false},
        {"nonce=", false},
        {"=\"n\"", false},
        {"nonce=\"n\";realm=\"r\"", false},
        {"", false},
    };
    for (const ChallengeCase& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<DigestChallenge> parsed = ParseDigestChallenge(c.text);
        ASSERT_EQ(parsed.has_value(), c.valid);
        if (parsed) {
            EXPECT_EQ(parsed->nonce, c.nonce);
            EXPECT_EQ(parsed->realm, c.realm);
        }
    }
}

TEST(SaslTest, CnonceIsFreshLowercaseHex) {
    std::set<std::string> seen;
    for (int i = 0; i < 8; ++i) {
        const std::string cnonce = NewDigestCnonce();
        ASSERT_EQ(cnonce.size(), 32U);
        EXPECT_EQ(cnonce.find_first_not_of("0123456789abcdef"), std::string::npos) << cnonce;
        seen.insert(cnonce);
    }
    EXPECT_EQ(seen.size(), 8U);
}

}  // namespace
