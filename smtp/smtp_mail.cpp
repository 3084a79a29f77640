// The mail transaction: envelope, header, body lines, attachments and the
// end of data.
#include <array>
#include <cstdio>
#include <memory>

#include "codec/base64.h"
#include "smtp/data_stream.h"
#include "smtp/internal/connection.h"
#include "smtp/smtp.h"

std::string g_boundary = "__WAKEBELL__TEXT__BOUNDARY__";

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

bool AnyLineBreak(const std::vector<SmtpRecipient>& recipients) {
    for (const SmtpRecipient& recipient : recipients) {
        if (HasLineBreak(recipient.name) || HasLineBreak(recipient.address)) {
            return true;
        }
    }
    return false;
}

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
    if (HasLineBreak(m_bodyLines.All())) {
        throw ECSmtp(ERR_MESSAGE_BODY);
    }
}

void CSmtp::SendMail() {
    g_reply521 = 0;
    CheckMailTexts();
    if (!HasSocket()) {
        OpenSession(m_server.c_str(), m_port, SECURITY_KEEP, m_authenticate, nullptr, nullptr);
    }
    try {
        m_link->SetState(SessionState::kInTransaction);
        RunTransaction();
    } catch (const ECSmtp&) {
        AbandonTransaction();
        throw;
    } catch (...) {
        m_link->SetState(SessionState::kFailed);  // e.g. std::bad_alloc: say nothing more
        AbandonTransaction();
        throw;
    }
}

void CSmtp::RunTransaction() {
    if (m_senderAddress.empty()) {
        throw ECSmtp(ERR_NO_SENDER);
    }
    if (Command(CMD_MAIL_FROM, "MAIL FROM:<" + m_senderAddress + ">\r\n") != 250) {
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
    m_link->SetState(SessionState::kInData);

    std::string block;
    ComposeHeader(block);
    QueueData(block);
    if (m_bodyLines.LineCount() == 0) {
        QueueData(" \r\n");
    } else {
        for (std::size_t line = 0; line < m_bodyLines.LineCount(); ++line) {
            block.clear();
            AppendBodyLine(block, m_bodyLines.Line(line));
            QueueData(block);
        }
        QueueData("--" + g_boundary + "\r\n");
    }
    std::uint64_t total = 0;
    for (const std::string& path : m_attachments) {
        SendAttachment(path, total);
    }
    if (!m_attachments.empty()) {
        QueueData("\r\n--" + std::string(kAttachmentBoundary) + "--\r\n");
    }

    const SmtpCommandRow& end = *LookupCommand(CMD_DATA_END);
    SetSendText("\r\n.\r\n");
    Transmit(end);
    const int code = ReadReply(end);
    m_link->SetState(SessionState::kReady);
    if (code != 250) {
        throw ECSmtp(ERR_MESSAGE_BODY);
    }
}

void CSmtp::ComposeHeader(std::string& header) const {
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
    fields.eightBit = HasHighBytes(m_bodyLines.All());
    header = ComposeHeaderText(fields, local);
}

void CSmtp::SendAttachment(const std::string& path, std::uint64_t& total) {
    QueueData(AttachmentPartHeader(AttachmentFileName(path)));
    const UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    std::uint64_t size = 0;
    {
        std::array<unsigned char, std::size_t{64} * 1024> chunk{};
        std::size_t count = 0;
        while ((count = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0) {
            size += count;
        }
    }
    // A folder opens but cannot be read; neither can a file that fails now.
    if (std::ferror(file.get()) != 0) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    total += size;
    if (AttachmentsTooBig(total)) {
        throw ECSmtp(ERR_MESSAGE_TOO_BIG);
    }
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    // One pass more than whole lines: the last line is short, or empty when
    // the size is a multiple of the line's bytes.
    const std::uint64_t passes = size / kAttachmentLineBytes + 1;
    std::array<unsigned char, kAttachmentLineBytes> line{};
    std::string batch;
    std::uint32_t counter = 0;
    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        const std::size_t count = std::fread(line.data(), 1, line.size(), file.get());
        if (std::ferror(file.get()) != 0) {
            throw ECSmtp(ERR_FILE_NOT_FOUND);
        }
        batch += Base64Encode(line.data(), static_cast<std::int32_t>(count));
        batch += "\r\n";
        counter += static_cast<std::uint32_t>(count) + 2;
        if (counter >= kAttachmentBatchBytes) {
            QueueData(batch);
            batch.clear();
            counter = 0;
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
