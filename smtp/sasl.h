// The SASL responses of SMTP AUTH (RFC 4954), built without any I/O: the
// client sends what these return, base64-encoded, one line each.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/client_hooks.h"

// AUTH PLAIN's message (RFC 4616) with an empty authorization identity:
// NUL, login, NUL, password.
std::string PlainMessage(std::string_view login, std::string_view password);

// HMAC-MD5 (RFC 2104) of text under key, as 32 lowercase hexadecimal
// characters. A key longer than 64 bytes is replaced by its MD5 digest; one
// of exactly 64 bytes is used as it is.
std::string HmacMd5Hex(std::string_view key, std::string_view text);

// CRAM-MD5 (RFC 2195): login, one space, HMAC-MD5 of the challenge under
// the password.
std::string CramMd5Response(std::string_view login, std::string_view password,
                            std::string_view challenge);

// One name=value pair of a DIGEST-MD5 challenge; the name in lower case,
// the value with its quotes and backslash escapes undone.
struct DigestDirective {
    std::string name;
    std::string value;
};

// Reads text as RFC 2831's comma-separated list of name=value pairs (2.1.1,
// 7.1): a name is a token, a value a token or a quoted-string whose
// backslash escapes the next byte; spaces, tabs, CR and LF may surround
// names, '=', values and commas, and empty elements (",,") are allowed.
// nullopt when any element breaks that form: a value missing or unclosed, a
// byte where a comma should follow a value (so an unquoted value never
// takes in the next pair), a control byte inside a quoted value. An empty
// or blank text is an empty list.
std::optional<std::vector<DigestDirective>> ParseDigestDirectives(std::string_view text);

// What the client takes from a DIGEST-MD5 challenge (RFC 2831, 2.1.1).
struct DigestChallenge {
    std::string nonce;
    std::string realm;  // empty when the challenge names none
};

// The challenge's nonce and its first realm (a server may offer several;
// the client takes the first). nullopt (the caller's 207) when the text is
// not a list of pairs (ParseDigestDirectives), or when "nonce" is missing,
// repeated or empty. Only a pair's name counts: a "realm=" inside another
// value is text of that value.
std::optional<DigestChallenge> ParseDigestChallenge(std::string_view challenge);

// The inputs of one DIGEST-MD5 response, qop "auth", nonce count 1.
struct DigestInputs {
    std::string login;
    std::string password;
    std::string realm;
    std::string nonce;
    std::string cnonce;
    std::string digestUri;  // "smtp/" and the server's dotted address
};

// The 32 hexadecimal characters of the response directive (RFC 2831, 2.1.2.1).
std::string DigestMd5ResponseHash(const DigestInputs& inputs);

// The value the server proves itself with in its "rspauth" (RFC 2831,
// 2.1.3): the response directive's computation with A2 = ":" digest-uri.
std::string DigestMd5ResponseAuth(const DigestInputs& inputs);

// The whole response text: charset=utf-8,username="..",realm="..",
// nonce="..",nc=00000001,cnonce="..",digest-uri="..",response=..,qop=auth
// (realm only when not empty). Quoted values escape '"' and '\' with a
// backslash, as RFC 2831's quoted-string requires.
std::string DigestMd5Response(const DigestInputs& inputs);

// `"` and `\` preceded by a backslash.
std::string EscapeQuotedString(std::string_view value);

// A fresh client nonce: 128 random bits in lowercase hexadecimal, from
// random, or from OpenSSL's RAND_bytes when random is empty. Empty when the
// source fails.
std::string NewDigestCnonce(const SmtpRandom& random = {});
