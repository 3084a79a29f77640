// Composing the message header's lines: addresses, encoded words, Date,
// Message-ID and the MIME lines.
#include "smtp/message_header.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/base64.h"
#include "codec/hex.h"

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

constexpr std::string_view kWordStart = "=?Shift_JIS?B?";
constexpr std::string_view kWordEnd = "?=";
// RFC 5322, 2.1.1: a line SHOULD hold at most 78 characters, and wherever
// the header is folded it does. RFC 2047, 2 allows an encoded word 75
// characters; 39 bytes give at most 52 base64 characters, which with the 16
// around them make 68, and "X-Mailer: " (the longest field name before
// one) makes 78.
constexpr std::size_t kFoldedLine = 78;
constexpr std::size_t kWordBytes = 39;
// RFC 5322, 2.1.1: a line MUST hold at most 998 characters. Plain text
// longer than this could not go out as one line, so it is encoded, which
// folds.
constexpr std::size_t kLongestPlainText = 900;
// "To: " and "Cc: " before a recipient list.
constexpr std::size_t kListFieldName = 4;

// Shift_JIS lead bytes of two-byte characters; everything else is one byte.
bool IsLeadByte(unsigned char byte) noexcept {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

bool NeedsEncoding(std::string_view text) noexcept {
    return HasHighBytes(text) || text.size() > kLongestPlainText;
}

// RFC 2047 encoded words of text, whatever it holds.
std::string EncodedWords(std::string_view text);

// Header text built piece by piece, folded between pieces where a line
// would pass kFoldedLine.
class FoldedText {
  public:
    explicit FoldedText(std::size_t lineSoFar) : m_line(lineSoFar) {}

    // Appends piece (which may hold folds of its own) after glue. When
    // canFold and piece's first line would take the line past kFoldedLine,
    // a fold (CR LF and a blank) takes the place of the glue. An empty
    // piece appends nothing.
    void Append(std::string_view piece, std::string_view glue = {}, bool canFold = false) {
        if (piece.empty()) {
            return;
        }
        const std::size_t firstLine = std::min(piece.find("\r\n"), piece.size());
        if (canFold && m_line + glue.size() + firstLine > kFoldedLine) {
            m_text += "\r\n ";
            m_line = 1;
        } else {
            m_text += glue;
            m_line += glue.size();
        }
        m_text += piece;
        const std::size_t lastBreak = piece.rfind("\r\n");
        m_line = lastBreak == std::string_view::npos ? m_line + piece.size()
                                                     : piece.size() - lastBreak - 2;
    }

    std::string& Text() noexcept { return m_text; }

  private:
    std::string m_text;
    std::size_t m_line;
};

// RFC 5322, 3.2.3: dot-atom-text = 1*atext *("." 1*atext).
bool IsDomainName(std::string_view text) noexcept {
    constexpr std::string_view kAtextSymbols = "!#$%&'*+-/=?^_`{|}~";
    constexpr std::size_t kLongestDomain = 253;  // RFC 1035, 2.3.4, less the final dot
    if (text.empty() || text.size() > kLongestDomain || text.front() == '.' || text.back() == '.' ||
        text.find("..") != std::string_view::npos) {
        return false;
    }
    bool notDigit = false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!digit && !letter && c != '.' && kAtextSymbols.find(c) == std::string_view::npos) {
            return false;
        }
        notDigit = notDigit || (!digit && c != '.');
    }
    return notDigit;
}

std::string_view TransferEncodingLine(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::k8Bit: return "Content-Transfer-Encoding: 8bit\r\n";
        case TextEncoding::kBase64: return "Content-Transfer-Encoding: base64\r\n";
        default: return "Content-Transfer-Encoding: 7bit\r\n";
    }
}

std::string PriorityLine(SmtpPriority priority) {
    switch (priority) {
        case PRIORITY_HIGH: return "X-Priority: 2 (High)\r\n";
        case PRIORITY_LOW: return "X-Priority: 4 (Low)\r\n";
        default: return "X-Priority: 3 (Normal)\r\n";
    }
}

}  // namespace

bool HasLineBreak(std::string_view text) noexcept {
    // Two scans of memchr beat one of find_first_of, which tests each byte
    // against the set.
    return text.find('\r') != std::string_view::npos || text.find('\n') != std::string_view::npos;
}

bool HasBadAddressCharacter(std::string_view address) noexcept {
    for (const char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '<' || c == '>') {
            return true;
        }
    }
    return false;
}

bool HasHighBytes(std::string_view text) noexcept {
    // Eight bytes at a time: a whole body is scanned for every mail.
    constexpr std::uint64_t kHighBits = 0x8080808080808080U;
    std::size_t i = 0;
    for (; i + sizeof(std::uint64_t) <= text.size(); i += sizeof(std::uint64_t)) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        if ((word & kHighBits) != 0) {
            return true;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return true;
        }
    }
    return false;
}

std::string FormatDateLine(const std::tm& local) {
    const long offset = local.tm_gmtoff / 60;
    const long zone = std::labs(offset);
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    const int weekday = local.tm_wday >= 0 && local.tm_wday < 7 ? local.tm_wday : 0;
    std::array<char, 64> line{};
    std::snprintf(line.data(), line.size(), "Date: %s, %d %s %d %02d:%02d:%02d %c%02ld%02ld\r\n",
                  kWeekdays[static_cast<std::size_t>(weekday)], local.tm_mday,
                  kMonths[static_cast<std::size_t>(month)], local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', zone / 60, zone % 60);
    return line.data();
}

std::string EncodeHeaderText(std::string_view text) {
    if (!NeedsEncoding(text)) {
        return std::string(text);
    }
    return EncodedWords(text);
}

std::string DisplayNameText(std::string_view name) {
    // RFC 5322, 3.2.3: the specials, which an atom cannot hold.
    constexpr std::string_view kSpecials = "()<>[]:;@\\,.\"";
    if (NeedsEncoding(name) || name.find_first_of(kSpecials) == std::string_view::npos) {
        return EncodeHeaderText(name);
    }
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted += '"';
    return quoted.size() > kLongestPlainText ? EncodedWords(name) : quoted;
}

namespace {

std::string EncodedWords(std::string_view text) {
    std::string encoded;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size()) {
            const bool lead = IsLeadByte(static_cast<unsigned char>(text[end]));
            const std::size_t width = lead && end + 1 < text.size() ? 2 : 1;
            if (end + width - start > kWordBytes) {
                break;
            }
            end += width;
        }
        if (!encoded.empty()) {
            encoded += "\r\n ";
        }
        encoded += kWordStart;
        encoded += Base64Encode(reinterpret_cast<const unsigned char*>(text.data() + start),
                                static_cast<std::int32_t>(end - start));
        encoded += kWordEnd;
        start = end;
    }
    return encoded;
}

}  // namespace

std::string RecipientListText(const std::vector<SmtpRecipient>& recipients) {
    FoldedText list(kListFieldName);
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        if (i != 0) {
            list.Append(",");
        }
        const std::string name = DisplayNameText(recipients[i].name);
        list.Append(name, {}, i != 0);
        // RFC 5322, 3.4: CFWS may come before the "<" of an angle-addr.
        list.Append("<" + recipients[i].address + ">", name.starts_with(kWordStart) ? " " : "",
                    i != 0 || !name.empty());
    }
    return std::move(list.Text());
}

std::string_view MessageIdDomain(std::string_view senderAddress,
                                 std::string_view serverHost) noexcept {
    const std::size_t at = senderAddress.rfind('@');
    if (at != std::string_view::npos && IsDomainName(senderAddress.substr(at + 1))) {
        return senderAddress.substr(at + 1);
    }
    return IsDomainName(serverHost) ? serverHost : kMessageIdFallbackDomain;
}

std::string MessageIdText(std::span<const unsigned char> random, std::string_view domain) {
    std::string id = "<" + LowerHex(random);
    id += '@';
    id += domain;
    id += '>';
    return id;
}

std::string ComposeHeaderText(const MessageHeaderFields& fields, const std::tm& local) {
    std::string header = FormatDateLine(local);
    if (!fields.messageId.empty()) {
        header += "Message-ID: ";
        header += fields.messageId;
        header += "\r\n";
    }
    if (fields.senderName.empty()) {
        header += "From:  <";
        header += kPlaceholderSender;
        header += ">\r\n";
    } else {
        FoldedText from(std::string_view("From: ").size());
        from.Append(DisplayNameText(fields.senderName));
        from.Append("<" + std::string(fields.senderAddress) + ">", " ", true);
        header += "From: ";
        header += from.Text();
        header += "\r\n";
    }
    if (!fields.mailer.empty()) {
        header += "X-Mailer: ";
        header += EncodeHeaderText(fields.mailer);
        header += "\r\n";
    }
    if (!fields.replyTo.empty()) {
        header += "Reply-To: ";
        header += fields.replyTo;
        header += "\r\n";
    }
    header += PriorityLine(fields.priority);
    header += "To: ";
    if (fields.to != nullptr) {
        header += RecipientListText(*fields.to);
    }
    header += "\r\n";
    if (fields.cc != nullptr && !fields.cc->empty()) {
        header += "Cc: ";
        header += RecipientListText(*fields.cc);
        header += "\r\n";
    }
    header += "Subject: ";
    header += fields.subject.empty() ? std::string(" ") : EncodeHeaderText(fields.subject);
    header += "\r\nMIME-Version: 1.0\r\n";
    header += "Content-Type: multipart/mixed; boundary=\"";
    header += fields.boundary;
    header += "\"\r\n\r\n--";
    header += fields.boundary;
    header += fields.html ? "\r\nContent-type: text/html; charset=Shift_JIS\r\n"
                          : "\r\nContent-type: text/plain; charset=Shift_JIS\r\n";
    header += TransferEncodingLine(fields.textEncoding);
    header += "\r\n";
    return header;
}
