// The mail transaction: envelope, header, body lines, attachments and the
// end of data.
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <span>

#include "codec/base64.h"
#include "smtp/data_stream.h"
#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/smtp.h"

std::string g_boundary = "__WAKEBELL__TEXT__BOUNDARY__";

namespace {

bool AnyLineBreak(const std::vector<SmtpRecipient>& recipients) {
    for (const SmtpRecipient& recipient : recipients) {
        if (HasLineBreak(recipient.name) || HasLineBreak(recipient.address)) {
            return true;
        }
    }
    return false;
}

bool AnyBadAddress(const std::vector<SmtpRecipient>& recipients) {
    for (const SmtpRecipient& recipient : recipients) {
        if (HasBadAddressCharacter(recipient.address)) {
            return true;
        }
    }
    return false;
}

// The system's CSPRNG. getrandom(2) without flags waits only until the
// kernel's pool has been seeded once after boot, and never fails after that
// but for a signal.
bool SystemRandom(std::span<unsigned char> bytes) noexcept {
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t count = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        filled += static_cast<std::size_t>(count);
    }
    return true;
}

// An attachment opened for reading: a regular file, or nothing.
class AttachmentFile {
  public:
    // Opens without waiting (a FIFO without a writer would block the open)
    // and close-on-exec (no program started meanwhile inherits it); 404
    // unless it is a regular file: a device such as /dev/zero never ends,
    // a folder cannot be read.
    explicit AttachmentFile(const std::string& path)
        : m_fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {
        struct stat status {};
        if (m_fd < 0 || fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            Close();
            throw ECSmtp(ERR_FILE_NOT_FOUND);
        }
        m_size = static_cast<std::uint64_t>(status.st_size);
    }
    ~AttachmentFile() { Close(); }
    AttachmentFile(const AttachmentFile&) = delete;
    AttachmentFile& operator=(const AttachmentFile&) = delete;

    // The size when it was opened.
    std::uint64_t Size() const noexcept { return m_size; }

    // Fills line as far as the file goes; the byte count, below line's size
    // only at the end of the file. 404 when reading fails.
    std::size_t Fill(std::span<unsigned char> line) const {
        std::size_t filled = 0;
        while (filled < line.size()) {
            const ssize_t count = read(m_fd, line.data() + filled, line.size() - filled);
            if (count == 0) {
                break;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw ECSmtp(ERR_FILE_NOT_FOUND);
            }
            filled += static_cast<std::size_t>(count);
        }
        return filled;
    }

  private:
    void Close() noexcept {
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
    }

    int m_fd = -1;
    std::uint64_t m_size = 0;
};

}  // namespace

void CSmtp::AddCcRecipient(const char* address, const char* name) {
    if (address == nullptr) {
        throw ECSmtp(ERR_NO_RECIPIENT_ADDRESS);
    }
    m_ccRecipients.push_back(SmtpRecipient{name == nullptr ? std::string() : name, address});
}

void CSmtp::AddBccRecipient(const char* address, const char* name) {
    if (address == nullptr) {
        throw ECSmtp(ERR_NO_RECIPIENT_ADDRESS);
    }
    m_bccRecipients.push_back(SmtpRecipient{name == nullptr ? std::string() : name, address});
}

void CSmtp::AddAttachment(const char* path) {
    if (path == nullptr) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    m_attachments.emplace_back(path);
}

// A bare CR or LF would end a command or a header line early and let the
// rest be read as another command or header, or end the data and smuggle a
// second message past the server.
void CSmtp::CheckMailTexts() const {
    if (HasLineBreak(m_senderAddress) || HasLineBreak(m_senderName) || HasLineBreak(m_subject) ||
        HasLineBreak(m_mailer) || HasLineBreak(m_replyTo) || HasLineBreak(g_boundary) ||
        AnyLineBreak(m_recipients) || AnyLineBreak(m_ccRecipients) ||
        AnyLineBreak(m_bccRecipients)) {
        throw ECSmtp(ERR_LINE_BREAK_IN_FIELD);
    }
    // RFC 5321, 4.1.2: a Path is "<" Mailbox ">", followed only by ESMTP
    // parameters; what would end the brackets early or add a parameter
    // (a blank) is not an address. The reply address goes into the header
    // only, where a byte of 0x80 or above could be neither raw (RFC 5322,
    // 2.2) nor an encoded word (RFC 2047, 5).
    if (HasBadAddressCharacter(m_senderAddress) || AnyBadAddress(m_recipients) ||
        AnyBadAddress(m_ccRecipients) || AnyBadAddress(m_bccRecipients) ||
        HasHighBytes(m_replyTo)) {
        throw ECSmtp(ERR_BAD_ADDRESS_CHARACTER);
    }
    // RFC 2046, 5.1.1: a boundary is ASCII, and it stands in the header.
    if (HasHighBytes(g_boundary)) {
        throw ECSmtp(ERR_NO_HEADER);
    }
    if (HasLineBreak(m_bodyLines.All())) {
        throw ECSmtp(ERR_MESSAGE_BODY);
    }
}

// What can be known of the attachments before the mail begins: a path that
// names something other than a regular file, and the sizes of those that
// are, so that a mail over the limit is refused before its data is sent. A
// path that names nothing yet is judged when its part is sent.
void CSmtp::CheckAttachments() const {
    std::uint64_t total = 0;
    for (const std::string& path : m_attachments) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) {
            continue;
        }
        if (!S_ISREG(status.st_mode)) {
            throw ECSmtp(ERR_FILE_NOT_FOUND);
        }
        total += static_cast<std::uint64_t>(status.st_size);
        if (AttachmentsTooBig(total)) {
            throw ECSmtp(ERR_MESSAGE_TOO_BIG);
        }
    }
}

bool CSmtp::Random(std::span<unsigned char> bytes) const {
    return m_random ? m_random(bytes) : SystemRandom(bytes);
}

std::string CSmtp::NewMessageId() const {
    std::array<unsigned char, kMessageIdRandomBytes> random{};
    if (!Random(random)) {
        throw ECSmtp(ERR_NO_RANDOM);
    }
    return MessageIdText(random, MessageIdDomain(m_senderAddress, m_server));
}

void CSmtp::SendMail() {
    g_reply521 = 0;
    CheckMailTexts();
    CheckAttachments();
    // Before anything is sent, so that a failing source leaves no half mail.
    const std::string messageId = NewMessageId();
    if (!HasSocket()) {
        OpenSession(m_server.c_str(), m_port, SECURITY_KEEP, m_authenticate, nullptr, nullptr);
    }
    try {
        SetState(SessionState::kInTransaction);
        RunTransaction(messageId);
    } catch (const ECSmtp&) {
        AbandonTransaction();
        throw;
    } catch (...) {
        SetState(SessionState::kFailed);  // e.g. std::bad_alloc: say nothing more
        AbandonTransaction();
        throw;
    }
}

void CSmtp::RunTransaction(std::string_view messageId) {
    if (m_senderAddress.empty()) {
        throw ECSmtp(ERR_NO_SENDER);
    }
    // RFC 6152, 3: 8-bit data goes only to a server that offered 8BITMIME,
    // and MAIL FROM then says that it comes. The header and the delimiters
    // are ASCII (CheckMailTexts), so the body lines alone decide.
    TextEncoding encoding = TextEncoding::k7Bit;
    if (HasHighBytes(m_bodyLines.All())) {
        encoding = m_capabilities.eightBitMime ? TextEncoding::k8Bit : TextEncoding::kBase64;
    }
    const char* body = encoding == TextEncoding::k8Bit ? " BODY=8BITMIME" : "";
    if (Command(CMD_MAIL_FROM, "MAIL FROM:<" + m_senderAddress + ">" + body + "\r\n") != 250) {
        throw ECSmtp(ERR_REPLY_MAIL_FROM);
    }
    if (m_recipients.empty()) {
        throw ECSmtp(ERR_NO_RECIPIENT);
    }
    for (const auto* list : {&m_recipients, &m_ccRecipients, &m_bccRecipients}) {
        for (const SmtpRecipient& recipient : *list) {
            const int code = Command(CMD_RCPT_TO, "RCPT TO:<" + recipient.address + ">\r\n");
            if (code != 250 && code != 251) {
                throw ECSmtp(ERR_REPLY_RCPT_TO);
            }
        }
    }
    if (Command(CMD_DATA, "DATA\r\n") != 354) {
        throw ECSmtp(ERR_REPLY_DATA);
    }
    SetState(SessionState::kInData);

    std::string block;
    ComposeHeader(block, messageId, encoding);
    QueueData(block);
    if (m_bodyLines.LineCount() == 0) {
        QueueData(" \r\n");
    } else {
        if (encoding == TextEncoding::kBase64) {
            SendBase64Body();
        } else {
            for (std::size_t line = 0; line < m_bodyLines.LineCount(); ++line) {
                block.clear();
                AppendBodyLine(block, m_bodyLines.Line(line));
                QueueData(block);
            }
        }
        if (!m_attachments.empty()) {
            QueueData("--" + g_boundary + "\r\n");
        }
    }
    std::uint64_t total = 0;
    for (const std::string& path : m_attachments) {
        SendAttachment(path, total);
    }
    // RFC 2046, 5.1.1: the close delimiter ends the multipart body; the text
    // part was its only part when nothing is attached.
    QueueData(m_attachments.empty() ? "--" + g_boundary + "--\r\n"
                                    : "\r\n--" + std::string(kAttachmentBoundary) + "--\r\n");

    const SmtpCommandRow& end = *LookupCommand(CMD_DATA_END);
    m_link->trace.DataEnded();
    SetSendText("\r\n.\r\n");
    Transmit(end);
    const int code = ReadReply(end);
    SetState(SessionState::kReady);
    if (code != 250) {
        throw ECSmtp(ERR_MESSAGE_BODY);
    }
}

// The text is the body lines joined by CR LF: the bytes a reader gets from
// the 8bit form, where the CR LF after the last line belongs to the
// delimiter that follows (RFC 2046, 5.1.1).
void CSmtp::SendBase64Body() {
    constexpr std::size_t kBatchBytes = 64 * (4 * kTextLineBytes / 3 + 2);  // 64 lines
    Base64TextLines encoder;
    std::string batch;
    for (std::size_t line = 0; line < m_bodyLines.LineCount(); ++line) {
        if (line != 0) {
            encoder.Add("\r\n", batch);
        }
        encoder.Add(m_bodyLines.Line(line), batch);
        if (batch.size() >= kBatchBytes) {
            QueueData(batch);
            batch.clear();
        }
    }
    encoder.Finish(batch);
    if (!batch.empty()) {
        QueueData(batch);
    }
}

void CSmtp::ComposeHeader(std::string& header, std::string_view messageId,
                          TextEncoding encoding) const {
    const std::time_t now = m_clock ? m_clock() : std::time(nullptr);
    std::tm local{};
    if (now <= 0 || localtime_r(&now, &local) == nullptr) {
        throw ECSmtp(ERR_TIME);
    }
    if (m_recipients.empty()) {
        throw ECSmtp(ERR_NO_RECIPIENT);
    }
    if (m_senderAddress.empty()) {
        throw ECSmtp(ERR_NO_SENDER);
    }
    MessageHeaderFields fields;
    fields.messageId = messageId;
    fields.senderAddress = m_senderAddress;
    fields.senderName = m_senderName;
    fields.mailer = m_mailer;
    fields.replyTo = m_replyTo;
    fields.priority = m_priority;
    fields.to = &m_recipients;
    fields.cc = &m_ccRecipients;
    fields.subject = m_subject;
    fields.boundary = m_attachments.empty() ? std::string_view(g_boundary) : kAttachmentBoundary;
    fields.html = m_html && !m_attachments.empty();
    fields.textEncoding = encoding;
    header = ComposeHeaderText(fields, local);
}

void CSmtp::SendAttachment(const std::string& path, std::uint64_t& total) {
    QueueData(AttachmentPartHeader(AttachmentFileName(path)));
    const AttachmentFile file(path);
    if (AttachmentsTooBig(total + file.Size())) {
        throw ECSmtp(ERR_MESSAGE_TOO_BIG);
    }
    // Lines until the end of the file as it is read, counted as they go: a
    // file that grows meanwhile still meets the limit. The last line is
    // short, or empty when the size is a multiple of the line's bytes.
    std::array<unsigned char, kAttachmentLineBytes> line{};
    std::string batch;
    std::uint32_t counter = 0;
    for (;;) {
        const std::size_t count = file.Fill(line);
        total += count;
        if (AttachmentsTooBig(total)) {
            throw ECSmtp(ERR_MESSAGE_TOO_BIG);
        }
        batch += Base64Encode(line.data(), static_cast<std::int32_t>(count));
        batch += "\r\n";
        counter += static_cast<std::uint32_t>(count) + 2;
        if (counter >= kAttachmentBatchBytes) {
            QueueData(batch);
            batch.clear();
            counter = 0;
        }
        if (count < line.size()) {
            break;
        }
    }
    if (counter != 0) {
        QueueData(batch);
    }
}

void CSmtp::AbandonTransaction() noexcept {
    // Once the data has begun (kInData), the server reads every line as
    // part of the message and answers nothing before the end of data, so a
    // QUIT would wait for a reply that never comes; the state owes none.
    // Closing without the end of data makes the server drop the message
    // (RFC 5321, 3.8).
    Shutdown();
}
