// The pieces of a mail's data stream after the header, built as text without
// a socket: body lines (as they are, or in base64), attachment parts and
// their base64 lines, and the attachment size limit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Appends line and CR LF to out, with one more "." in front when the line
// begins with "." (RFC 5321, 4.5.2), so that no body line can end the data
// early. The server takes the dot away again.
void AppendBodyLine(std::string& out, std::string_view line);

// Raw bytes per base64 line of the text part: 57 give lines of 76
// characters, the most RFC 2045 (6.8) allows.
inline constexpr std::size_t kTextLineBytes = 57;

// The text part in base64 (RFC 2045, 6.8), for a server that takes no 8-bit
// data: bytes are added as they come, and every 57 of them become one line
// of 76 characters and CR LF, appended to out. A base64 line never begins
// with "." (not in the alphabet), so none needs dot-stuffing.
class Base64TextLines {
  public:
    void Add(std::string_view bytes, std::string& out);
    // Appends the line of the bytes left over (fewer than 57, padded with
    // "="), when there are any.
    void Finish(std::string& out);

  private:
    std::array<unsigned char, kTextLineBytes> m_pending{};
    std::size_t m_count = 0;
};

// The part of an attachment path used as its file name: what follows the
// last "/" or "\", or the whole path when it holds neither.
std::string_view AttachmentFileName(std::string_view path) noexcept;

// One header parameter, "; attribute=value" without the "; ":
//   attribute="value"           when value is printable ASCII, with "\" and
//                               a double quote escaped by "\" (RFC 2045's
//                               quoted-string; ";" is harmless inside it);
//   attribute*=UTF-8''%XX...    (RFC 2231) when value holds a control byte
//                               (CR and LF included) or one of 0x80 and up;
//                               the charset is UTF-8 when the bytes are
//                               well-formed UTF-8 (file names on Linux),
//                               Shift_JIS otherwise (the client's texts).
// Either way exactly one parameter results.
std::string HeaderParameter(std::string_view attribute, std::string_view value);

// The block that opens an attachment part: the delimiter of the attachment
// boundary, Content-Type (name), Content-Transfer-Encoding base64,
// Content-Disposition (filename) and the empty line.
std::string AttachmentPartHeader(std::string_view fileName);

// Raw bytes per base64 line: 54 give lines of exactly 72 characters.
inline constexpr std::size_t kAttachmentLineBytes = 54;
// Lines are sent in batches once the batch has counted this many raw bytes
// (each line counts its raw bytes plus 2).
inline constexpr std::uint32_t kAttachmentBatchBytes = 5120;
// The attachments of one mail may total less than 5 MiB + 1 KiB.
inline constexpr std::uint64_t kAttachmentLimit = 0x500000;

// True when total attachment bytes, rounded down to whole KiB, exceed the
// limit: 5,243,903 passes, 5,243,904 does not.
bool AttachmentsTooBig(std::uint64_t total) noexcept;
