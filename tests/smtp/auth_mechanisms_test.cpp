#include "smtp/auth_mechanisms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "smtp/sasl.h"
#include "tests/smtp/counting_random.h"

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

int RefusalOf(AuthExchange exchange, const std::optional<std::string>& challenge) {
    try {
        DigestMd5Step(exchange, challenge);
    } catch (const ECSmtp& e) {
        return e.Code();
    }
    return ERR_NONE;
}

// The first step answers the challenge (its parser has its own table in
// sasl_test.cpp); the second checks the server's rspauth against the
// response just sent.
TEST(AuthMechanismsTest, DigestMd5ChecksTheChallengeAndTheServersProof) {
    EXPECT_EQ(RefusalOf({"chris", "secret", "127.0.0.1", 0, {}, {}}, std::nullopt),
              ERR_BAD_DIGEST_CHALLENGE);
    EXPECT_EQ(RefusalOf({"chris", "secret", "127.0.0.1", 0, {}, {}}, "nonce=abc realm=\"r\""),
              ERR_BAD_DIGEST_CHALLENGE);
    EXPECT_EQ(RefusalOf({"chris", "secret", "", 0, {}, {}}, "nonce=\"n\""), ERR_NO_DIGEST_SERVER);

    const std::string challenge = "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\"";
    AuthExchange exchange{"chris", "secret", "127.0.0.1", 0, {}, {}};
    const AuthStep first = DigestMd5Step(exchange, challenge);
    // The proof the server must give follows from the response's cnonce.
    const std::size_t at = first.response.find("cnonce=\"") + 8;
    const DigestInputs inputs{"chris",
                              "secret",
                              "elwood.innosoft.com",
                              "OA6MG9tEQGm2hh",
                              first.response.substr(at, 32),
                              "smtp/127.0.0.1"};
    ASSERT_EQ(exchange.expectedProof, DigestMd5ResponseAuth(inputs));

    AuthExchange right = exchange;
    const AuthStep last = DigestMd5Step(right, "rspauth=" + exchange.expectedProof);
    EXPECT_EQ(last.response, "");
    EXPECT_EQ(last.expect, 235);
    const std::vector<std::pair<std::optional<std::string>, int>> proofs = {
        {"", ERR_NONE},
        {"rspauth=00000000000000000000000000000000", ERR_REPLY_DIGEST_MD5},
        {"rspauth=\"x\"", ERR_REPLY_DIGEST_MD5},
        {"rspauth", ERR_REPLY_DIGEST_MD5},
        {std::nullopt, ERR_REPLY_DIGEST_MD5},  // not base64
    };
    for (const auto& [proof, code] : proofs) {
        EXPECT_EQ(RefusalOf(exchange, proof), code) << proof.value_or("(not base64)");
    }
}

// Failure advice tells a refused mechanism from refused credentials by
// this alone.
TEST(AuthMechanismsTest, OnlyTheRowsRefusalsAreMechanismRefusals) {
    const std::vector<std::pair<std::int32_t, bool>> cases = {
        {ERR_REPLY_AUTH_LOGIN, true},
        {ERR_REPLY_AUTH_PLAIN, true},
        {ERR_REPLY_AUTH_CRAM_MD5, true},
        {ERR_REPLY_AUTH_DIGEST_MD5, true},
        {ERR_REPLY_DIGEST_MD5, false},
        {ERR_BAD_LOGIN, false},
        {ERR_AUTH_LOGIN_UNSUPPORTED, false},
        {ERR_BAD_DIGEST_CHALLENGE, false},
        {ERR_NONE, false},
    };
    for (const auto& [code, refusal] : cases) {
        EXPECT_EQ(IsMechanismRefusal(code), refusal) << code;
    }
}

// The client nonce comes from the exchange's random source when it has one.
TEST(AuthMechanismsTest, DigestMd5TakesItsClientNonceFromTheRandomSource) {
    AuthExchange counting{"chris", "secret", "127.0.0.1", 0, {}, CountingRandom};
    const AuthStep first = DigestMd5Step(counting, "nonce=\"n\"");
    EXPECT_NE(first.response.find(",cnonce=\"000102030405060708090a0b0c0d0e0f\","),
              std::string::npos)
        << first.response;
    EXPECT_EQ(RefusalOf({"chris", "secret", "127.0.0.1", 0, {}, [](auto) { return false; }},
                        "nonce=\"n\""),
              ERR_NO_RANDOM);
}

}  // namespace
