// Commands, held message data and whole replies over the transport.
#include "smtp/internal/line_engine.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "smtp/internal/trace_policy.h"
#include "smtp/internal/transport.h"
#include "smtp/limits.h"
#include "smtp/reply_scanner.h"
#include "smtp/smtp_error.h"

namespace {

constexpr std::size_t kMaxChunk = kSmtpBufferSize - 1;  // room for the NUL
// Held data blocks are written in pieces of this size: large writes, and
// four full TLS records each.
constexpr std::size_t kOutboxFlush = std::size_t{64} * 1024;

}  // namespace

SmtpLineEngine::SmtpLineEngine(SmtpTransport& transport, TracePolicy& trace)
    : m_transport(transport),
      m_trace(trace),
      m_sendBuffer(std::make_unique<char[]>(kSmtpBufferSize)),
      m_recvBuffer(std::make_unique<char[]>(kSmtpBufferSize)) {}

void SmtpLineEngine::SetSendText(std::string_view text) {
    if (text.size() > kMaxChunk) {
        throw ECSmtp(ERR_COMMAND_TOO_LONG);
    }
    std::memcpy(m_sendBuffer.get(), text.data(), text.size());
    m_sendBuffer[text.size()] = '\0';
}

void SmtpLineEngine::Transmit(std::int32_t sendTimeout, std::size_t redactFrom) {
    const std::string_view sentText(m_sendBuffer.get());
    m_trace.FlushHeld();
    if (m_outbox.empty()) {
        m_transport.Write(sentText, sendTimeout);
    } else {
        m_outbox += sentText;
        m_transport.Write(m_outbox, sendTimeout);
        m_outbox.clear();
    }
    m_trace.Command(sentText, redactFrom);
}

void SmtpLineEngine::QueueData(std::string_view block, std::int32_t sendTimeout) {
    m_trace.Data(block);
    m_outbox += block;
    m_outboxTimeout = sendTimeout;
    // Whole multiples of the TLS record size; the rest waits for more.
    if (m_outbox.size() >= kOutboxFlush) {
        const std::size_t whole = m_outbox.size() - m_outbox.size() % kOutboxFlush;
        m_transport.Write(std::string_view(m_outbox).substr(0, whole), sendTimeout);
        m_outbox.erase(0, whole);
    }
}

void SmtpLineEngine::FlushData() {
    m_trace.FlushHeld();
    if (m_outbox.empty()) {
        return;
    }
    m_transport.Write(m_outbox, m_outboxTimeout);
    m_outbox.clear();
}

int SmtpLineEngine::ReadReply(std::int32_t recvTimeout) {
    FlushData();  // a reply can only come to what has been sent
    ReplyScanner scanner;
    // One deadline for the whole reply: a server that trickles bytes keeps
    // every single wait short but must not stretch the reply.
    const SmtpTransport::Clock::time_point deadline = m_transport.DeadlineAfter(recvTimeout);
    for (;;) {
        const std::size_t count =
            m_transport.Read(std::span<char>(m_recvBuffer.get(), kMaxChunk), deadline);
        const ReplyScanner::State state = scanner.Feed({m_recvBuffer.get(), count});
        if (state == ReplyScanner::State::kComplete) {
            break;
        }
        if (state == ReplyScanner::State::kTooLong) {
            throw ECSmtp(ERR_REPLY_TOO_LONG);
        }
    }
    // The code is known; a reply longer than the buffer keeps its beginning.
    const std::string& text = scanner.text();
    const std::size_t kept = std::min(text.size(), kMaxChunk);
    std::memcpy(m_recvBuffer.get(), text.data(), kept);
    m_recvBuffer[kept] = '\0';
    m_replyLength = kept;
    m_replyTrailing = scanner.trailing();
    m_trace.Reply(std::string_view(text).substr(0, kept));
    return scanner.code();
}

void SmtpLineEngine::KeepPlainReply(std::string_view start) noexcept {
    const std::size_t kept = std::min(start.size(), kMaxChunk);
    std::memcpy(m_recvBuffer.get(), start.data(), kept);
    // Only what has arrived: the server waits for a command now, and its
    // greeting came as one piece.
    m_replyLength = kept + m_transport.ReadArrived(
                               std::span<char>(m_recvBuffer.get() + kept, kMaxChunk - kept));
    m_recvBuffer[m_replyLength] = '\0';
    m_replyTrailing = 0;
    m_trace.Reply({m_recvBuffer.get(), m_replyLength});
}

void SmtpLineEngine::ClearReply() noexcept {
    m_recvBuffer[0] = '\0';
    m_replyLength = 0;
    m_replyTrailing = 0;
}
