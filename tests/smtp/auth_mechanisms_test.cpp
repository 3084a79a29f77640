#include "smtp/auth_mechanisms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/sasl.h"

namespace {

// Part of the table's contract: LOGIN, PLAIN, CRAM-MD5, DIGEST-MD5.
TEST(AuthMechanismsTest, ChoosesTheMostPreferredOfferedMechanism) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"DIGEST-MD5 CRAM-MD5 PLAIN LOGIN", "LOGIN"},
        {"DIGEST-MD5 CRAM-MD5 plain", "PLAIN"},
        {"DIGEST-MD5 XOAUTH2 CRAM-MD5", "CRAM-MD5"},
        {"SCRAM-SHA-1 DIGEST-MD5", "DIGEST-MD5"},
        {"XOAUTH2 SCRAM-SHA-1", nullptr},
        {"", nullptr},
    };
    for (const auto& [offered, chosen] : cases) {
        SCOPED_TRACE(offered);
        const AuthMechanism* mechanism = ChooseAuthMechanism(
            ParseCapabilities(std::string("250-m\r\n250 AUTH ") + offered + "\r\n"));
        ASSERT_EQ(mechanism != nullptr, chosen != nullptr);
        if (mechanism != nullptr) {
            EXPECT_EQ(mechanism->name, chosen);
        }
    }
}

int RefusalOf(AuthBuilder builder, AuthExchange& exchange,
              const std::optional<std::string>& challenge) {
    try {
        builder(exchange, challenge);
    } catch (const ECSmtp& e) {
        return e.Code();
    }
    return ERR_NONE;
}

// The first step answers the challenge; the second checks the server's
// rspauth against the response just sent.
TEST(AuthMechanismsTest, DigestMd5ChecksTheChallengeAndTheServersProof) {
    AuthExchange bad{"chris", "secret", "127.0.0.1", 0, {}};
    EXPECT_EQ(RefusalOf(DigestMd5Step, bad, std::nullopt), ERR_BAD_DIGEST_CHALLENGE);
    AuthExchange swallowed{"chris", "secret", "127.0.0.1", 0, {}};
    EXPECT_EQ(RefusalOf(DigestMd5Step, swallowed, std::string("nonce=abc realm=\"r\"")),
              ERR_BAD_DIGEST_CHALLENGE);
    AuthExchange noAddress{"chris", "secret", "", 0, {}};
    EXPECT_EQ(RefusalOf(DigestMd5Step, noAddress, std::string("nonce=\"n\"")),
              ERR_NO_DIGEST_SERVER);

    const std::string challenge = "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\"";
    for (const char* proof : {"", "rspauth=00000000000000000000000000000000", "rspauth=\"x\"",
                              "rspauth", "not base64"}) {
        SCOPED_TRACE(proof);
        AuthExchange exchange{"chris", "secret", "127.0.0.1", 0, {}};
        const AuthStep first = DigestMd5Step(exchange, challenge);
        EXPECT_EQ(first.expect, 334);
        EXPECT_EQ(first.refused, ERR_REPLY_DIGEST_MD5);
        // The proof the server must give follows from the response's cnonce.
        const std::size_t at = first.response.find("cnonce=\"") + 8;
        const std::string cnonce = first.response.substr(at, 32);
        const DigestInputs inputs{"chris",          "secret", "elwood.innosoft.com",
                                  "OA6MG9tEQGm2hh", cnonce,   "smtp/127.0.0.1"};
        ASSERT_EQ(exchange.expectedProof, DigestMd5ResponseAuth(inputs));

        AuthExchange right = exchange;
        const AuthStep last =
            DigestMd5Step(right, std::string("rspauth=") + exchange.expectedProof);
        EXPECT_EQ(last.response, "");
        EXPECT_EQ(last.expect, 235);
        const std::optional<std::string> given = std::string_view(proof) == "not base64"
                                                     ? std::nullopt
                                                     : std::optional<std::string>(proof);
        EXPECT_EQ(RefusalOf(DigestMd5Step, exchange, given),
                  std::string_view(proof).empty() ? ERR_NONE : ERR_REPLY_DIGEST_MD5);
    }
}

}  // namespace
