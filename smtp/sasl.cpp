// The SASL responses: PLAIN's message, HMAC-MD5 and CRAM-MD5, and
// DIGEST-MD5's challenge reading and response.
#include "smtp/sasl.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <vector>

#include "codec/hex.h"
#include "codec/md5.h"

namespace {

constexpr std::size_t kHmacBlock = 64;

void Update(MD5& md5, std::string_view bytes) {
    // MD5 takes 32-bit lengths; feed anything longer in pieces.
    constexpr std::size_t kPiece = std::size_t{1} << 30;
    while (bytes.size() > kPiece) {
        md5.update(bytes.substr(0, kPiece));
        bytes.remove_prefix(kPiece);
    }
    md5.update(bytes);
}

std::vector<unsigned char> RawMd5(std::initializer_list<std::string_view> parts) {
    MD5 md5;
    for (const std::string_view part : parts) {
        Update(md5, part);
    }
    md5.finalize();
    return md5.raw_digest();
}

std::string HexMd5(std::initializer_list<std::string_view> parts) {
    MD5 md5;
    for (const std::string_view part : parts) {
        Update(md5, part);
    }
    md5.finalize();
    return md5.hex_digest();
}

std::string_view AsText(const std::vector<unsigned char>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

bool IsDigestSpace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// RFC 2616's token characters (RFC 2831, 7.1): CHAR without controls and
// separators.
bool IsTokenChar(char c) noexcept {
    constexpr std::string_view kSeparators = "()<>@,;:\\\"/[]?={} \t";
    const auto byte = static_cast<unsigned char>(c);
    return byte > 31 && byte < 127 && kSeparators.find(c) == std::string_view::npos;
}

// Reads a token from text's front into *out; false when there is none.
bool TakeToken(std::string_view& text, std::string* out) {
    std::size_t length = 0;
    while (length < text.size() && IsTokenChar(text[length])) {
        ++length;
    }
    out->assign(text.substr(0, length));
    text.remove_prefix(length);
    return length > 0;
}

// Reads a quoted-string (its opening quote at text's front) into *out,
// undoing quoted-pairs; false when unclosed or holding a control byte other
// than the linear white space TEXT allows.
bool TakeQuoted(std::string_view& text, std::string* out) {
    out->clear();
    for (std::size_t pos = 1; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            text.remove_prefix(pos + 1);
            return true;
        }
        if (c == '\\') {
            if (++pos == text.size()) {
                return false;
            }
            c = text[pos];
        }
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 32 && !IsDigestSpace(c)) || byte == 127) {
            return false;
        }
        out->push_back(c);
    }
    return false;
}

void SkipSpace(std::string_view& text) {
    while (!text.empty() && IsDigestSpace(text.front())) {
        text.remove_prefix(1);
    }
}

std::string Lowered(std::string value) {
    for (char& c : value) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return value;
}

std::string DigestHash(const DigestInputs& in, std::string_view a2Prefix) {
    const std::vector<unsigned char> h1 = RawMd5({in.login, ":", in.realm, ":", in.password});
    const std::string ha1 = HexMd5({AsText(h1), ":", in.nonce, ":", in.cnonce});
    const std::string ha2 = HexMd5({a2Prefix, ":", in.digestUri});
    return HexMd5({ha1, ":", in.nonce, ":", "00000001", ":", in.cnonce, ":", "auth", ":", ha2});
}

}  // namespace

std::string PlainMessage(std::string_view login, std::string_view password) {
    std::string message;
    message.reserve(2 + login.size() + password.size());
    message.push_back('\0');
    message.append(login);
    message.push_back('\0');
    message.append(password);
    return message;
}

std::string HmacMd5Hex(std::string_view key, std::string_view text) {
    std::vector<unsigned char> longKey;
    if (key.size() > kHmacBlock) {
        longKey = RawMd5({key});
        key = AsText(longKey);
    }
    std::array<unsigned char, kHmacBlock> inner{};
    std::array<unsigned char, kHmacBlock> outer{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        inner[i] = static_cast<unsigned char>(key[i]);
        outer[i] = static_cast<unsigned char>(key[i]);
    }
    for (std::size_t i = 0; i < kHmacBlock; ++i) {
        inner[i] ^= 0x36;
        outer[i] ^= 0x5c;
    }
    const auto block = [](const std::array<unsigned char, kHmacBlock>& pad) {
        return std::string_view(reinterpret_cast<const char*>(pad.data()), pad.size());
    };
    const std::vector<unsigned char> innerDigest = RawMd5({block(inner), text});
    return HexMd5({block(outer), AsText(innerDigest)});
}

std::string CramMd5Response(std::string_view login, std::string_view password,
                            std::string_view challenge) {
    std::string response(login);
    response.push_back(' ');
    response.append(HmacMd5Hex(password, challenge));
    return response;
}

std::optional<std::vector<DigestDirective>> ParseDigestDirectives(std::string_view text) {
    std::vector<DigestDirective> list;
    for (;;) {
        SkipSpace(text);
        if (text.empty()) {
            return list;
        }
        if (text.front() == ',') {  // an empty element
            text.remove_prefix(1);
            continue;
        }
        DigestDirective pair;
        if (!TakeToken(text, &pair.name)) {
            return std::nullopt;
        }
        SkipSpace(text);
        if (text.empty() || text.front() != '=') {
            return std::nullopt;
        }
        text.remove_prefix(1);
        SkipSpace(text);
        const bool valueRead = !text.empty() && text.front() == '"' ? TakeQuoted(text, &pair.value)
                                                                    : TakeToken(text, &pair.value);
        if (!valueRead) {
            return std::nullopt;
        }
        pair.name = Lowered(std::move(pair.name));
        list.push_back(std::move(pair));
        SkipSpace(text);
        if (!text.empty() && text.front() != ',') {
            return std::nullopt;
        }
    }
}

std::optional<DigestChallenge> ParseDigestChallenge(std::string_view challenge) {
    const std::optional<std::vector<DigestDirective>> list = ParseDigestDirectives(challenge);
    if (!list) {
        return std::nullopt;
    }
    DigestChallenge found;
    int nonces = 0;
    bool realmSeen = false;
    for (const DigestDirective& pair : *list) {
        if (pair.name == "nonce") {
            ++nonces;
            found.nonce = pair.value;
        } else if (pair.name == "realm" && !realmSeen) {
            realmSeen = true;
            found.realm = pair.value;
        }
    }
    // RFC 2831, 2.1.1: the nonce "MUST appear exactly once".
    if (nonces != 1 || found.nonce.empty()) {
        return std::nullopt;
    }
    return found;
}

std::string DigestMd5ResponseHash(const DigestInputs& in) {
    return DigestHash(in, "AUTHENTICATE");
}

std::string DigestMd5ResponseAuth(const DigestInputs& in) {
    return DigestHash(in, "");
}

std::string DigestMd5Response(const DigestInputs& in) {
    std::string text = "charset=utf-8,username=\"" + EscapeQuotedString(in.login) + "\"";
    if (!in.realm.empty()) {
        text += ",realm=\"" + EscapeQuotedString(in.realm) + "\"";
    }
    text += ",nonce=\"" + EscapeQuotedString(in.nonce) + "\"";
    text += ",nc=00000001";
    text += ",cnonce=\"" + EscapeQuotedString(in.cnonce) + "\"";
    text += ",digest-uri=\"" + EscapeQuotedString(in.digestUri) + "\"";
    text += ",response=" + DigestMd5ResponseHash(in);
    text += ",qop=auth";
    return text;
}

std::string EscapeQuotedString(std::string_view value) {
    std::string escaped;
    escaped.reserve(value.size());
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            escaped.push_back('\\');
        }
        escaped.push_back(c);
    }
    return escaped;
}

std::string NewDigestCnonce(const SmtpRandom& random) {
    std::array<unsigned char, 16> bytes{};
    if (random ? !random(bytes) : RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        return {};
    }
    return LowerHex(bytes);
}
