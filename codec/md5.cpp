// The MD5 digest: block compression, padding and the misuse lines on standard error.
#include "codec/md5.h"

#include <cstring>
#include <iostream>

namespace {

void Complain(const char* first, const char* second = "") {
    std::cerr << first << second << std::endl;  // the line is flushed at once
}

inline std::uint32_t LoadLittleEndian(const unsigned char* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

inline void StoreLittleEndian(std::uint32_t value, unsigned char* p) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

inline std::uint32_t RotateLeft(std::uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// The auxiliary functions of RFC 1321, section 3.4. F is written in the form
// that needs one operation fewer; the result is the same.
inline std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return z ^ (x & (y ^ z));
}
inline std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return (x & z) | (y & ~z);
}
inline std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return x ^ y ^ z;
}
inline std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    return y ^ (x | ~z);
}

// One step of a round: a = b + ((a + f(b, c, d) + x + ac) <<< s).
template <std::uint32_t (*f)(std::uint32_t, std::uint32_t, std::uint32_t)>
inline void Step(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                 std::uint32_t x, int s, std::uint32_t ac) {
    a = RotateLeft(a + f(b, c, d) + x + ac, s) + b;
}

}  // namespace

MD5::MD5()
    : state{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u},
      count{0, 0},
      buffer{},
      digest{},
      finalized(false) {}

void MD5::update(std::string_view text) {
    update(text.data(), static_cast<std::uint32_t>(text.size()));
}

void MD5::update(const void* input, std::uint32_t length) {
    if (finalized) {
        Complain("MD5::update:  Can't update a finalized digest!");
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(input);
    const std::uint32_t index = (count[0] >> 3) & 0x3Fu;

    const std::uint32_t addedBits = length << 3;
    count[0] += addedBits;
    if (count[0] < addedBits) {
        ++count[1];
    }
    count[1] += length >> 29;

    const std::uint32_t space = 64 - index;
    std::uint32_t used = 0;
    if (length >= space) {
        std::memcpy(buffer + index, bytes, space);
        transform(buffer);
        for (used = space; used + 63 < length; used += 64) {
            transform(bytes + used);
        }
        std::memcpy(buffer, bytes + used, length - used);
    } else if (length > 0) {
        std::memcpy(buffer + index, bytes, length);
    }
}

void MD5::finalize() {
    if (finalized) {
        Complain("MD5::finalize:  Already finalized this digest!");
        return;
    }
    unsigned char bits[8];
    StoreLittleEndian(count[0], bits);
    StoreLittleEndian(count[1], bits + 4);

    static const unsigned char kPadding[64] = {0x80};
    const std::uint32_t index = (count[0] >> 3) & 0x3Fu;
    const std::uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    update(kPadding, padLength);
    update(bits, 8);

    for (std::size_t i = 0; i < 4; ++i) {
        StoreLittleEndian(state[i], digest + 4 * i);
    }
    std::memset(buffer, 0, sizeof buffer);
    finalized = true;
}

std::vector<unsigned char> MD5::raw_digest() const {
    if (!finalized) {
        Complain("MD5::raw_digest:  Can't get digest if you haven't ", "finalized the digest!");
        return {};
    }
    return {digest, digest + sizeof digest};
}

std::string MD5::hex_digest() const {
    if (!finalized) {
        Complain("MD5::hex_digest:  Can't get digest if you haven't ", "finalized the digest!");
        return {};
    }
    static const char kHex[] = "0123456789abcdef";
    std::string hex(32, '\0');
    for (std::size_t i = 0; i < sizeof digest; ++i) {
        hex[2 * i] = kHex[digest[i] >> 4];
        hex[2 * i + 1] = kHex[digest[i] & 0x0F];
    }
    return hex;
}

void MD5::transform(const unsigned char block[64]) {
    std::uint32_t x[16];
    for (std::size_t i = 0; i < 16; ++i) {
        x[i] = LoadLittleEndian(block + 4 * i);
    }
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];

    Step<F>(a, b, c, d, x[0], 7, 0xd76aa478u);
    Step<F>(d, a, b, c, x[1], 12, 0xe8c7b756u);
    Step<F>(c, d, a, b, x[2], 17, 0x242070dbu);
    Step<F>(b, c, d, a, x[3], 22, 0xc1bdceeeu);
    Step<F>(a, b, c, d, x[4], 7, 0xf57c0fafu);
    Step<F>(d, a, b, c, x[5], 12, 0x4787c62au);
    Step<F>(c, d, a, b, x[6], 17, 0xa8304613u);
    Step<F>(b, c, d, a, x[7], 22, 0xfd469501u);
    Step<F>(a, b, c, d, x[8], 7, 0x698098d8u);
    Step<F>(d, a, b, c, x[9], 12, 0x8b44f7afu);
    Step<F>(c, d, a, b, x[10], 17, 0xffff5bb1u);
    Step<F>(b, c, d, a, x[11], 22, 0x895cd7beu);
    Step<F>(a, b, c, d, x[12], 7, 0x6b901122u);
    Step<F>(d, a, b, c, x[13], 12, 0xfd987193u);
    Step<F>(c, d, a, b, x[14], 17, 0xa679438eu);
    Step<F>(b, c, d, a, x[15], 22, 0x49b40821u);

    Step<G>(a, b, c, d, x[1], 5, 0xf61e2562u);
    Step<G>(d, a, b, c, x[6], 9, 0xc040b340u);
    Step<G>(c, d, a, b, x[11], 14, 0x265e5a51u);
    Step<G>(b, c, d, a, x[0], 20, 0xe9b6c7aau);
    Step<G>(a, b, c, d, x[5], 5, 0xd62f105du);
    Step<G>(d, a, b, c, x[10], 9, 0x02441453u);
    Step<G>(c, d, a, b, x[15], 14, 0xd8a1e681u);
    Step<G>(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
    Step<G>(a, b, c, d, x[9], 5, 0x21e1cde6u);
    Step<G>(d, a, b, c, x[14], 9, 0xc33707d6u);
    Step<G>(c, d, a, b, x[3], 14, 0xf4d50d87u);
    Step<G>(b, c, d, a, x[8], 20, 0x455a14edu);
    Step<G>(a, b, c, d, x[13], 5, 0xa9e3e905u);
    Step<G>(d, a, b, c, x[2], 9, 0xfcefa3f8u);
    Step<G>(c, d, a, b, x[7], 14, 0x676f02d9u);
    Step<G>(b, c, d, a, x[12], 20, 0x8d2a4c8au);

    Step<H>(a, b, c, d, x[5], 4, 0xfffa3942u);
    Step<H>(d, a, b, c, x[8], 11, 0x8771f681u);
    Step<H>(c, d, a, b, x[11], 16, 0x6d9d6122u);
    Step<H>(b, c, d, a, x[14], 23, 0xfde5380cu);
    Step<H>(a, b, c, d, x[1], 4, 0xa4beea44u);
    Step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9u);
    Step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60u);
    Step<H>(b, c, d, a, x[10], 23, 0xbebfbc70u);
    Step<H>(a, b, c, d, x[13], 4, 0x289b7ec6u);
    Step<H>(d, a, b, c, x[0], 11, 0xeaa127fau);
    Step<H>(c, d, a, b, x[3], 16, 0xd4ef3085u);
    Step<H>(b, c, d, a, x[6], 23, 0x04881d05u);
    Step<H>(a, b, c, d, x[9], 4, 0xd9d4d039u);
    Step<H>(d, a, b, c, x[12], 11, 0xe6db99e5u);
    Step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8u);
    Step<H>(b, c, d, a, x[2], 23, 0xc4ac5665u);

    Step<I>(a, b, c, d, x[0], 6, 0xf4292244u);
    Step<I>(d, a, b, c, x[7], 10, 0x432aff97u);
    Step<I>(c, d, a, b, x[14], 15, 0xab9423a7u);
    Step<I>(b, c, d, a, x[5], 21, 0xfc93a039u);
    Step<I>(a, b, c, d, x[12], 6, 0x655b59c3u);
    Step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92u);
    Step<I>(c, d, a, b, x[10], 15, 0xffeff47du);
    Step<I>(b, c, d, a, x[1], 21, 0x85845dd1u);
    Step<I>(a, b, c, d, x[8], 6, 0x6fa87e4fu);
    Step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0u);
    Step<I>(c, d, a, b, x[6], 15, 0xa3014314u);
    Step<I>(b, c, d, a, x[13], 21, 0x4e0811a1u);
    Step<I>(a, b, c, d, x[4], 6, 0xf7537e82u);
    Step<I>(d, a, b, c, x[11], 10, 0xbd3af235u);
    Step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bbu);
    Step<I>(b, c, d, a, x[9], 21, 0xeb86d391u);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}
