// The mechanisms' builders: the steps of LOGIN, PLAIN, CRAM-MD5 and
// DIGEST-MD5 (RFC 4954, 4616, 2195, 2831).
#include "smtp/auth_mechanisms.h"

#include <vector>

#include "smtp/sasl.h"

namespace {

bool SameHex(std::string_view a, std::string_view b) noexcept {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&lower](char x, char y) { return lower(x) == lower(y); });
}

// RFC 2831, 2.1.3: the server's last challenge proves that it knows the
// password too. One whose rspauth differs is not the server logged in to.
void CheckServerProof(const AuthExchange& exchange, const std::optional<std::string>& challenge) {
    if (!challenge) {
        throw ECSmtp(ERR_REPLY_DIGEST_MD5);
    }
    const std::optional<std::vector<DigestDirective>> list = ParseDigestDirectives(*challenge);
    if (!list) {
        throw ECSmtp(ERR_REPLY_DIGEST_MD5);
    }
    for (const DigestDirective& pair : *list) {
        if (pair.name == "rspauth" && !SameHex(pair.value, exchange.expectedProof)) {
            throw ECSmtp(ERR_REPLY_DIGEST_MD5);
        }
    }
}

}  // namespace

AuthStep LoginStep(AuthExchange& exchange, const std::optional<std::string>& /*challenge*/) {
    // The prompts ("Username:", "Password:") are not read: the order is fixed.
    if (exchange.step++ == 0) {
        return {CMD_USER, std::string(exchange.login), 334, ERR_REPLY_AUTH_LOGIN};
    }
    return {CMD_PASSWORD, std::string(exchange.password), 235, ERR_BAD_LOGIN};
}

AuthStep PlainStep(AuthExchange& exchange, const std::optional<std::string>& /*challenge*/) {
    ++exchange.step;
    return {CMD_AUTH_PLAIN, PlainMessage(exchange.login, exchange.password), 235, ERR_BAD_LOGIN};
}

AuthStep CramMd5Step(AuthExchange& exchange, const std::optional<std::string>& challenge) {
    // RFC 2195: the challenge is a msg-id such as <1896.697170952@host>; an
    // empty one or one that is not base64 is no challenge to answer.
    if (!challenge || challenge->empty()) {
        throw ECSmtp(ERR_REPLY_AUTH_CRAM_MD5);
    }
    ++exchange.step;
    return {CMD_PASSWORD, CramMd5Response(exchange.login, exchange.password, *challenge), 235,
            ERR_BAD_LOGIN};
}

AuthStep DigestMd5Step(AuthExchange& exchange, const std::optional<std::string>& challenge) {
    if (exchange.step++ > 0) {
        CheckServerProof(exchange, challenge);
        return {CMD_PASSWORD, std::string(), 235, ERR_BAD_LOGIN};
    }
    const std::optional<DigestChallenge> parsed =
        challenge ? ParseDigestChallenge(*challenge) : std::nullopt;
    if (!parsed) {
        throw ECSmtp(ERR_BAD_DIGEST_CHALLENGE);
    }
    // The digest URI names the server by the address actually connected to.
    if (exchange.serverAddress.empty()) {
        throw ECSmtp(ERR_NO_DIGEST_SERVER);
    }
    const DigestInputs inputs{std::string(exchange.login),
                              std::string(exchange.password),
                              parsed->realm,
                              parsed->nonce,
                              NewDigestCnonce(exchange.random),
                              "smtp/" + exchange.serverAddress};
    if (inputs.cnonce.empty()) {
        throw ECSmtp(ERR_NO_RANDOM);
    }
    exchange.expectedProof = DigestMd5ResponseAuth(inputs);
    return {CMD_DIGEST_MD5, DigestMd5Response(inputs), 334, ERR_REPLY_DIGEST_MD5};
}

const AuthMechanism* ChooseAuthMechanism(const SmtpCapabilities& offer) noexcept {
    for (const AuthMechanism& mechanism : kAuthMechanisms) {
        if (offer.Offers(mechanism.name)) {
            return &mechanism;
        }
    }
    return nullptr;
}

bool IsMechanismRefusal(std::int32_t code) noexcept {
    return code != ERR_NONE && std::any_of(kAuthMechanisms.begin(), kAuthMechanisms.end(),
                                           [code](const AuthMechanism& mechanism) {
                                               return mechanism.refusal == code;
                                           });
}
