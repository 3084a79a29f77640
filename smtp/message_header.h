// The message header: the lines that open the data of every mail, built as
// text without a socket.
//
// A mail is a multipart/mixed MIME message (RFC 2045, 2046) whose first part
// is the text of the body lines, declared Shift_JIS. The header lines come in
// this order, each ended by CR LF:
//   Date, Message-ID, From, X-Mailer (when set), Reply-To (when set),
//   X-Priority, To, Cc (when any), Subject, MIME-Version, Content-Type with
//   the boundary, an empty line, the delimiter "--<boundary>", the text
//   part's Content-type and Content-Transfer-Encoding (7bit, 8bit or
//   base64), an empty line.
// Bcc recipients are never named: every recipient receives this header.
//
// Texts are taken as bytes, and no byte of 0x80 or above is ever written
// raw: a subject, display name or mailer text holding one (Shift_JIS), or
// too long for one line of RFC 5322's 998 characters, is written as RFC
// 2047 encoded words (=?Shift_JIS?B?...?=), cut between characters and
// folded so that each line stays within RFC 5322's 78 characters; a display
// name holding one of RFC 5322's specials is written as a quoted-string
// (DisplayNameText); others are written as they are. A To or Cc list is
// folded after a comma, or before an address, where a line would pass 78
// characters. Addresses and the boundary cannot be encoded words (RFC 2047,
// 5): callers refuse those holding such a byte beforehand
// (HasBadAddressCharacter, HasHighBytes), as they refuse CR and LF in all
// of these texts (HasLineBreak).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Any other value is written as normal priority.
enum SmtpPriority : std::int32_t {
    PRIORITY_HIGH = 2,
    PRIORITY_NORMAL = 3,
    PRIORITY_LOW = 4,
};

struct SmtpRecipient {
    std::string name;     // display name, may be empty
    std::string address;  // mail address
};

// The boundary of a mail that carries attachments.
inline constexpr std::string_view kAttachmentBoundary = "__MESSAGE__ID__54yg6f6h6y456345";
// Written in the From line instead of the sender address when the sender has
// no display name.
inline constexpr std::string_view kPlaceholderSender = "mailer@wakebell.invalid";

// How the text part's body lines go out (RFC 2045, 6): 7bit when every byte
// is below 0x80; else 8bit to a server that offers 8BITMIME (RFC 6152), and
// base64 to one that does not.
enum class TextEncoding { k7Bit, k8Bit, kBase64 };

// Random bytes in a Message-ID: 128 bits.
inline constexpr std::size_t kMessageIdRandomBytes = 16;
// The Message-ID's domain when neither the sender's nor the server's is one.
inline constexpr std::string_view kMessageIdFallbackDomain = "wakebell.invalid";

struct MessageHeaderFields {
    std::string_view messageId;  // "<id@domain>" (MessageIdText); the line is left out when empty
    std::string_view senderAddress;
    std::string_view senderName;
    std::string_view mailer;
    std::string_view replyTo;
    SmtpPriority priority = PRIORITY_NORMAL;
    const std::vector<SmtpRecipient>* to = nullptr;
    const std::vector<SmtpRecipient>* cc = nullptr;
    std::string_view subject;
    std::string_view boundary;
    bool html = false;  // the text part is text/html rather than text/plain
    TextEncoding textEncoding = TextEncoding::k7Bit;
};

// The whole header and text-part preamble described above. local is the
// sending time as local broken-down time (tm_gmtoff gives the zone).
std::string ComposeHeaderText(const MessageHeaderFields& fields, const std::tm& local);

// "Date: Fri, 1 Jan 2027 00:00:00 +0900\r\n" (RFC 5322, 3.3): weekday, day,
// month name, year, two-digit time and the zone as a numeric offset.
std::string FormatDateLine(const std::tm& local);

// text unchanged when it is all ASCII and at most 900 bytes long; otherwise
// RFC 2047 encoded words, split between Shift_JIS characters and joined by
// CR LF and a blank (folding). Each word holds at most 68 characters, so
// that a line of one with its field name ("X-Mailer: ") stays within 78.
std::string EncodeHeaderText(std::string_view text);

// A display name as it goes into From, To and Cc: encoded words when
// EncodeHeaderText would encode it; a quoted-string (RFC 5322, 3.2.4) with
// every "\" and double quote escaped by "\" when it holds one of the
// specials ( ) < > [ ] : ; @ \ , . or a double quote (RFC 5322, 3.2.3),
// which a phrase of atoms cannot hold ("taro@example.test" would otherwise
// read as an address); unchanged otherwise. A quoted-string that would
// outgrow a header line is encoded instead.
std::string DisplayNameText(std::string_view name);

// The To or Cc list as it follows "To: " or "Cc: ": comma-separated, each
// recipient as its name followed by the address in angle brackets
// ("Name<a@b>", "<a@b>"). An encoded name is followed by a blank, which RFC
// 2047 readers need to see where it ends. Where a line would otherwise pass
// 78 characters, CR LF and a blank come after the comma before a recipient,
// or before the "<" of an address that follows a name.
std::string RecipientListText(const std::vector<SmtpRecipient>& recipients);

// The domain of a Message-ID (RFC 5322, 3.6.4): the first of the sender
// address's domain (what follows its last "@"; none when it holds no "@")
// and serverHost that is a domain name, i.e. an RFC 5322 dot-atom-text (3.2.3)
// of at most 253 characters that is not made of digits and dots alone (a
// dotted IPv4 address names a host); kMessageIdFallbackDomain when neither
// is. An address literal ("[192.0.2.1]") or a byte of 0x80 and above is no
// dot-atom-text.
std::string_view MessageIdDomain(std::string_view senderAddress,
                                 std::string_view serverHost) noexcept;

// "<" + the random bytes in lowercase hexadecimal + "@" + domain + ">": an
// RFC 5322 msg-id when domain is one of MessageIdDomain's.
std::string MessageIdText(std::span<const unsigned char> random, std::string_view domain);

// True when text holds a CR or an LF byte.
bool HasLineBreak(std::string_view text) noexcept;
// True when an envelope address holds a byte that would end or extend the
// "<address>" of MAIL FROM or RCPT TO: "<", ">", a blank, a control byte
// (0x00-0x1F, CR, LF, NUL and TAB among them) or DEL ("a@b> NOTIFY=SUCCESS"
// would otherwise add ESMTP parameters to the command); or a byte of 0x80 or
// above, which neither an address without SMTPUTF8 (RFC 5321, 4.1.2; RFC
// 6531) nor a header line (RFC 5322, 2.2) may carry, and which an encoded
// word cannot stand for inside an address (RFC 2047, 5).
bool HasBadAddressCharacter(std::string_view address) noexcept;
// True when text holds a byte of 0x80 or above.
bool HasHighBytes(std::string_view text) noexcept;
