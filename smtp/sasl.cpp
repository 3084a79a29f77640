#include "smtp/sasl.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <vector>

#include "codec/md5.h"

namespace {

constexpr std::size_t kHmacBlock = 64;

std::string HexOf(const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex.push_back(kDigits[bytes[i] >> 4]);
        hex.push_back(kDigits[bytes[i] & 0x0f]);
    }
    return hex;
}

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

// The value after `name="`, up to its unescaped closing quote. No name: an
// empty optional in *found. No closing quote: false.
bool QuotedValue(std::string_view challenge, std::string_view name,
                 std::optional<std::string>* found) {
    const std::size_t at = challenge.find(name);
    if (at == std::string_view::npos) {
        *found = std::nullopt;
        return true;
    }
    std::size_t pos = at + name.size() + 2;  // the name, '=' and the opening quote
    std::string value;
    while (pos < challenge.size()) {
        const char c = challenge[pos++];
        if (c == '"') {
            *found = std::move(value);
            return true;
        }
        if (c == '\\' && pos < challenge.size()) {
            value.push_back(challenge[pos++]);
        } else {
            value.push_back(c);
        }
    }
    return false;
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

std::optional<DigestChallenge> ParseDigestChallenge(std::string_view challenge) {
    std::optional<std::string> nonce;
    std::optional<std::string> realm;
    if (!QuotedValue(challenge, "nonce", &nonce) || !nonce ||
        !QuotedValue(challenge, "realm", &realm)) {
        return std::nullopt;
    }
    return DigestChallenge{std::move(*nonce), realm.value_or(std::string())};
}

std::string DigestMd5ResponseHash(const DigestInputs& in) {
    const std::vector<unsigned char> h1 = RawMd5({in.login, ":", in.realm, ":", in.password});
    const std::string ha1 = HexMd5({AsText(h1), ":", in.nonce, ":", in.cnonce});
    const std::string ha2 = HexMd5({"AUTHENTICATE:", in.digestUri});
    return HexMd5({ha1, ":", in.nonce, ":", "00000001", ":", in.cnonce, ":", "auth", ":", ha2});
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

std::string NewDigestCnonce() {
    std::array<unsigned char, 16> random{};
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) {
        return {};
    }
    return HexOf(random.data(), random.size());
}
