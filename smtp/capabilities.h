// What a server offers in its EHLO reply, read once into a small value.
// No I/O here: the client hands over the reply it received.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SmtpCapabilities {
    bool startTls = false;
    bool auth = false;
    // The SASL mechanisms of the AUTH lines, in upper case, each once, in
    // the server's order. Empty whenever auth is false.
    std::vector<std::string> mechanisms;
    bool size = false;
    // SIZE's number (RFC 1870; 0: no fixed limit); none when SIZE came
    // without one, or with one that is not a decimal number below 2^64.
    std::optional<std::uint64_t> sizeLimit;
    bool eightBitMime = false;
    bool pipelining = false;
    bool smtpUtf8 = false;
    bool enhancedStatusCodes = false;
    bool chunking = false;

    // Whether mechanism (any letter case) is among mechanisms.
    bool Offers(std::string_view mechanism) const noexcept;
};

// Reads an EHLO reply (RFC 5321, 4.1.1.1), every byte of it: a NUL is an
// ordinary byte and hides nothing after it.
//
// A line ends at CR LF; a last line without one (a reply cut short) is
// ignored, and so is everything after the reply's final line (a line of
// three digits followed by a space, or of three digits alone). The first
// line names the server and carries nothing. Every further line is
// `ddd-keyword params` or `ddd keyword params`: the keyword is the text up
// to the first space, its parameters the space-separated words after it.
// Keywords match in any letter case. Lines of any other form are skipped.
//
// STARTTLS, AUTH and the rest count only as a line's keyword; mechanisms
// only as parameters of an AUTH line (RFC 4954), also in the early form
// `AUTH=LOGIN PLAIN`. A parameter holding a byte outside 33..126 is no
// mechanism. Never fails; an empty or foreign text offers nothing.
SmtpCapabilities ParseCapabilities(std::string_view ehloReply);
