// libFuzzer target over ParseCapabilities: the input is an EHLO reply. The
// result is compared with a plain reference reading of each flag and each
// mechanism, and with the results for the same reply in upper case, cut at
// its final line, and with a line holding a NUL inserted after its first.
// The text is copied into an allocation of exactly its size, so
// AddressSanitizer sees any read past it. A broken invariant aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/capabilities.h"

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string Uppered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The lines that may carry capabilities, CR LF removed: every complete line
// after the first, up to and including the first final line.
std::vector<std::string> CapabilityLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t index = 0;; ++index) {
        const std::size_t crlf = text.find("\r\n", start);
        if (crlf == std::string_view::npos) {
            return lines;
        }
        const std::string_view line = text.substr(start, crlf - start);
        start = crlf + 2;
        if (index > 0) {
            lines.emplace_back(line);
        }
        if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
            (line.size() == 3 || line[3] == ' ')) {
            return lines;
        }
    }
}

// The words of a well-formed line in upper case ("ddd-" or "ddd " and a
// keyword right after it); empty for any other line.
std::vector<std::string> LineWords(const std::string& line) {
    if (line.size() < 5 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
        (line[3] != '-' && line[3] != ' ') || line[4] == ' ') {
        return {};
    }
    std::vector<std::string> words;
    std::string word;
    for (const char c : Uppered(line.substr(4)) + " ") {
        if (c != ' ') {
            word.push_back(c);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

bool AnyKeyword(const std::vector<std::string>& lines, std::string_view keyword) {
    for (const std::string& line : lines) {
        const std::vector<std::string> words = LineWords(line);
        if (!words.empty() && words.front() == keyword) {
            return true;
        }
    }
    return false;
}

bool AnyAuthLine(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        const std::vector<std::string> words = LineWords(line);
        if (!words.empty() && (words.front() == "AUTH" || words.front().starts_with("AUTH="))) {
            return true;
        }
    }
    return false;
}

// Whether some AUTH line names mechanism (already in upper case).
bool AuthLineNames(const std::vector<std::string>& lines, const std::string& mechanism) {
    for (const std::string& line : lines) {
        std::vector<std::string> words = LineWords(line);
        if (words.empty()) {
            continue;
        }
        if (words.front().starts_with("AUTH=")) {
            words.push_back(words.front().substr(5));
        } else if (words.front() != "AUTH") {
            continue;
        }
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] == mechanism) {
                return true;
            }
        }
    }
    return false;
}

bool Same(const SmtpCapabilities& a, const SmtpCapabilities& b) {
    return a.startTls == b.startTls && a.auth == b.auth && a.mechanisms == b.mechanisms &&
           a.size == b.size && a.sizeLimit == b.sizeLimit && a.eightBitMime == b.eightBitMime &&
           a.pipelining == b.pipelining && a.smtpUtf8 == b.smtpUtf8 &&
           a.enhancedStatusCodes == b.enhancedStatusCodes && a.chunking == b.chunking;
}

SmtpCapabilities ParseExactly(std::string_view text) {
    const std::unique_ptr<char[]> exact(new char[text.size()]);
    if (!text.empty()) {
        std::memcpy(exact.get(), text.data(), text.size());
    }
    return ParseCapabilities(std::string_view(exact.get(), text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SmtpCapabilities offer = ParseExactly(text);
    const std::vector<std::string> lines = CapabilityLines(text);

    Require(offer.auth == AnyAuthLine(lines), "AUTH differs from the reference");
    Require(offer.auth || offer.mechanisms.empty(), "mechanisms without AUTH");
    for (std::size_t i = 0; i < offer.mechanisms.size(); ++i) {
        const std::string& name = offer.mechanisms[i];
        Require(name == Uppered(name), "a mechanism not in upper case");
        Require(AuthLineNames(lines, name), "a mechanism that no AUTH line names");
        Require(offer.Offers(name) && offer.Offers(Uppered(name)), "Offers misses a mechanism");
        for (const char c : name) {
            Require(c >= 33 && c <= 126, "a mechanism with a byte outside 33..126");
        }
        for (std::size_t j = 0; j < i; ++j) {
            Require(offer.mechanisms[j] != name, "a mechanism listed twice");
        }
    }
    Require(offer.startTls == AnyKeyword(lines, "STARTTLS"), "STARTTLS differs");
    Require(offer.eightBitMime == AnyKeyword(lines, "8BITMIME"), "8BITMIME differs");
    Require(offer.size == AnyKeyword(lines, "SIZE"), "SIZE differs");
    Require(offer.size || !offer.sizeLimit, "a SIZE number without SIZE");

    // Letter case plays no part.
    Require(Same(offer, ParseExactly(Uppered(text))), "upper case changes the result");
    // Bytes after the final line, or after the last CR LF, play no part.
    const std::size_t lastCrlf = text.rfind("\r\n");
    Require(Same(offer, ParseExactly(
                            text.substr(0, lastCrlf == std::string_view::npos ? 0 : lastCrlf + 2))),
            "a line without CR LF changes the result");
    // A line holding a NUL, after the first, hides nothing.
    const std::size_t firstCrlf = text.find("\r\n");
    if (firstCrlf != std::string_view::npos) {
        std::string withNul(text.substr(0, firstCrlf + 2));
        withNul.append("250-\0X\r\n", 8);
        withNul.append(text.substr(firstCrlf + 2));
        Require(Same(offer, ParseExactly(withNul)), "a NUL line changes the result");
    }
    return 0;
}
