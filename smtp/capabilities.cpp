// Reading an EHLO reply into SmtpCapabilities.
#include "smtp/capabilities.h"

#include <algorithm>
#include <array>
#include <limits>

#include "smtp/reply_scanner.h"

namespace {

bool IsDigit(char c) noexcept {
    return c >= '0' && c <= '9';
}

char Upper(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

// RFC 5321's ehlo-param: 1*(%d33-126).
bool IsParam(std::string_view word) noexcept {
    return !word.empty() &&
           std::all_of(word.begin(), word.end(), [](char c) { return c >= 33 && c <= 126; });
}

// The words of text between single or repeated spaces.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t space = text.find(' ');
        if (space != 0) {
            words.push_back(text.substr(0, space));
        }
        if (space == std::string_view::npos) {
            break;
        }
        text.remove_prefix(space + 1);
    }
    return words;
}

std::optional<std::uint64_t> DecimalNumber(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (!IsDigit(c) || value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

void AddMechanism(SmtpCapabilities& offer, std::string_view word) {
    if (!IsParam(word)) {
        return;
    }
    std::string name(word);
    std::transform(name.begin(), name.end(), name.begin(), Upper);
    if (std::find(offer.mechanisms.begin(), offer.mechanisms.end(), name) ==
        offer.mechanisms.end()) {
        offer.mechanisms.push_back(std::move(name));
    }
}

// The keywords that are only a flag.
constexpr std::array<std::pair<std::string_view, bool SmtpCapabilities::*>, 6> kFlags{{
    {"STARTTLS", &SmtpCapabilities::startTls},
    {"8BITMIME", &SmtpCapabilities::eightBitMime},
    {"PIPELINING", &SmtpCapabilities::pipelining},
    {"SMTPUTF8", &SmtpCapabilities::smtpUtf8},
    {"ENHANCEDSTATUSCODES", &SmtpCapabilities::enhancedStatusCodes},
    {"CHUNKING", &SmtpCapabilities::chunking},
}};

// One line after the first, its CR LF removed: `ddd-keyword params`.
void ReadLine(SmtpCapabilities& offer, std::string_view line) {
    if (line.size() < 5 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
        (line[3] != '-' && line[3] != ' ')) {
        return;
    }
    std::vector<std::string_view> words = Words(line.substr(4));
    // RFC 5321, 4.1.1.1: the keyword starts the line, right after the code.
    if (words.empty() || line[4] == ' ') {
        return;
    }
    const std::string_view keyword = words.front();
    constexpr std::string_view kEarlyAuth = "AUTH=";
    if (SameIgnoringCase(keyword, "AUTH") ||
        SameIgnoringCase(keyword.substr(0, kEarlyAuth.size()), kEarlyAuth)) {
        offer.auth = true;
        if (keyword.size() > kEarlyAuth.size()) {
            AddMechanism(offer, keyword.substr(kEarlyAuth.size()));
        }
        std::for_each(words.begin() + 1, words.end(),
                      [&offer](std::string_view word) { AddMechanism(offer, word); });
        return;
    }
    if (SameIgnoringCase(keyword, "SIZE")) {
        offer.size = true;
        if (words.size() > 1) {
            offer.sizeLimit = DecimalNumber(words[1]);
        }
        return;
    }
    for (const auto& [name, flag] : kFlags) {
        if (SameIgnoringCase(keyword, name)) {
            offer.*flag = true;
        }
    }
}

}  // namespace

bool SmtpCapabilities::Offers(std::string_view mechanism) const noexcept {
    return std::any_of(mechanisms.begin(), mechanisms.end(), [mechanism](const std::string& name) {
        return SameIgnoringCase(name, mechanism);
    });
}

SmtpCapabilities ParseCapabilities(std::string_view ehloReply) {
    SmtpCapabilities offer;
    bool first = true;  // the first line names the server and carries nothing
    ForEachReplyLine(ehloReply, [&offer, &first](const ReplyLine& line) {
        if (!first) {
            ReadLine(offer, line.text);
        }
        first = false;
    });
    return offer;
}
