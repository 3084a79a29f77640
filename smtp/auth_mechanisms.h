// The SASL mechanisms the client logs in with (RFC 4954), as one table in
// order of preference. Each row names the mechanism, the command row of its
// AUTH line, the code for a refused AUTH line, and the builder that answers
// the server's challenges. No I/O here: CSmtp runs the exchange.
//
// Adding a mechanism: one row in kAuthMechanisms and one builder. Whatever
// needs "the mechanisms" (choosing one, IsMechanismRefusal, the failure
// advice's list of what the client can use) reads the table.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "smtp/capabilities.h"
#include "smtp/client_hooks.h"
#include "smtp/command_table.h"
#include "smtp/smtp_error.h"

// One line the client sends in the exchange and the reply it expects.
struct AuthStep {
    SmtpCommand command;   // whose time-outs the line gets (CMD_PASSWORD will do)
    std::string response;  // raw bytes; sent base64-encoded as one line
    int expect;            // 334: another challenge follows; 235: logged in
    // The ECSmtp code when the reply is not expect: the row's refusal where
    // the server refuses the mechanism's exchange itself, ERR_BAD_LOGIN (or
    // a code of the mechanism's own) where it refuses the credentials.
    std::int32_t refused;
};

// One exchange's inputs and what a builder keeps between its steps.
struct AuthExchange {
    std::string_view login;
    std::string_view password;
    std::string serverAddress;  // dotted IPv4 address connected to; empty when unknown
    int step = 0;               // how many steps the builder has given
    std::string expectedProof;  // DIGEST-MD5: the rspauth the server must send
    // Where random bytes come from (a client nonce); OpenSSL's generator
    // when empty.
    SmtpRandom random;
};

// Gives the next step in answer to challenge: the decoded bytes of the
// server's 334 reply, nullopt when that reply held no valid base64. A
// mechanism that starts with an initial response is asked once before any
// challenge, with an empty one. Raises ECSmtp for a challenge it refuses.
using AuthBuilder = AuthStep (*)(AuthExchange& exchange,
                                 const std::optional<std::string>& challenge);

struct AuthMechanism {
    std::string_view name;
    // The command row whose time-outs the AUTH line gets. The command table
    // is fixed and its AUTH rows are alike: a new mechanism names any of
    // them (CMD_AUTH_LOGIN will do).
    SmtpCommand command;
    // The code when the AUTH line is not answered 334; a builder raises it
    // too where the server refuses the exchange itself (LOGIN's user-name
    // line, CRAM-MD5's empty challenge). A mechanism with an initial
    // response sends its first step on the AUTH line instead, and that
    // step's own code counts (PLAIN: its one line holds the credentials, so
    // any refusal is 406). A new mechanism without a code of its own may
    // take ERR_UNEXPECTED_REPLY.
    std::int32_t refusal;
    bool initialResponse;
    // The longest response known before the exchange begins, checked
    // against the send buffer before the AUTH line goes out (210); 0 when
    // every response depends on a challenge.
    std::size_t (*knownLength)(const AuthExchange& exchange);
    AuthBuilder next;
};

AuthStep LoginStep(AuthExchange& exchange, const std::optional<std::string>& challenge);
AuthStep PlainStep(AuthExchange& exchange, const std::optional<std::string>& challenge);
// The row's refusal (304) when the challenge is empty or not base64.
AuthStep CramMd5Step(AuthExchange& exchange, const std::optional<std::string>& challenge);
// First step: 207 for a challenge that is not base64 or not a valid list
// (ParseDigestChallenge), 208 without a server address, 421 when
// exchange.random (or OpenSSL's generator) gives no client nonce. Second
// step: 306 when the challenge is not base64, not a list, or carries an
// rspauth other than expectedProof.
AuthStep DigestMd5Step(AuthExchange& exchange, const std::optional<std::string>& challenge);

inline constexpr std::array kAuthMechanisms = std::to_array<AuthMechanism>({
    {"LOGIN", CMD_AUTH_LOGIN, ERR_REPLY_AUTH_LOGIN, false,
     [](const AuthExchange& e) { return std::max(e.login.size(), e.password.size()); }, LoginStep},
    {"PLAIN", CMD_AUTH_PLAIN, ERR_REPLY_AUTH_PLAIN, true,
     [](const AuthExchange& e) { return 2 + e.login.size() + e.password.size(); }, PlainStep},
    // The response is the login, a space and 32 hexadecimal digits.
    {"CRAM-MD5", CMD_AUTH_CRAM_MD5, ERR_REPLY_AUTH_CRAM_MD5, false,
     [](const AuthExchange& e) { return e.login.size() + 33; }, CramMd5Step},
    {"DIGEST-MD5", CMD_AUTH_DIGEST_MD5, ERR_REPLY_AUTH_DIGEST_MD5, false,
     [](const AuthExchange&) { return std::size_t{0}; }, DigestMd5Step},
});

// The first row of kAuthMechanisms that offer lists; null when none is.
const AuthMechanism* ChooseAuthMechanism(const SmtpCapabilities& offer) noexcept;

// Whether code says that the server refused a mechanism's exchange (the
// refusal code of a row of kAuthMechanisms), rather than the credentials
// (406, 306) or anything else. False for ERR_NONE.
bool IsMechanismRefusal(std::int32_t code) noexcept;
