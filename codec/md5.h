// MD5 message digest (RFC 1321), used by SMTP authentication for HMAC-MD5
// (CRAM-MD5) and the chained hashes of DIGEST-MD5.
//
// One object computes one digest:
//
//   MD5 md5;
//   md5.update(data, size);   // any number of times, pieces of any size
//   md5.finalize();           // once
//   md5.hex_digest();         // and/or raw_digest(), as often as wanted
//
// Misuse never throws and never changes the object: it writes one line to
// standard error and returns (see each operation). The object owns no heap
// memory; whole 64-byte blocks are compressed straight from the caller's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class MD5 {
  public:
    MD5();

    // Adds `length` bytes. After finalize() it writes
    // "MD5::update:  Can't update a finalized digest!" and ignores the input.
    void update(const void* input, std::uint32_t length);
    void update(std::string_view text);

    // Pads, appends the bit count and fixes the digest. A second call writes
    // "MD5::finalize:  Already finalized this digest!" and changes nothing.
    void finalize();

    // The 16 digest bytes. Before finalize() it writes
    // "MD5::raw_digest:  Can't get digest if you haven't finalized the digest!"
    // and returns an empty vector.
    std::vector<unsigned char> raw_digest() const;

    // The digest as 32 lowercase hexadecimal characters. Before finalize() it
    // writes "MD5::hex_digest:  Can't get digest if you haven't finalized the
    // digest!" (one line) and returns an empty text.
    std::string hex_digest() const;

  private:
    void transform(const unsigned char block[64]);

    std::uint32_t state[4];
    std::uint32_t count[2];  // bits fed so far, low word first
    unsigned char buffer[64];
    unsigned char digest[16];
    bool finalized;
};
