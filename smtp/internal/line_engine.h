// Lines over the transport: the send buffer, the held message data, and
// reading one whole reply (within its deadline, up to its cap, bytes after
// its final line counted) into the receive buffer. Of SMTP it knows the
// reply grammar only (smtp/reply_scanner.h); every text it moves goes to
// the trace policy.
//
// Private to smtp/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class SmtpTransport;  // smtp/internal/transport.h
class TracePolicy;    // smtp/internal/trace_policy.h

class SmtpLineEngine {
  public:
    SmtpLineEngine(SmtpTransport& transport, TracePolicy& trace);

    SmtpLineEngine(const SmtpLineEngine&) = delete;
    SmtpLineEngine& operator=(const SmtpLineEngine&) = delete;

    // Copies text into the send buffer; 210 when it does not fit.
    void SetSendText(std::string_view text);
    // Writes the send buffer's text after any held data, in one write, with
    // sendTimeout seconds per wait; then traces it as a command with the
    // bytes from redactFrom on hidden. The transport's codes.
    void Transmit(std::int32_t sendTimeout, std::size_t redactFrom = std::string_view::npos);
    // Hands one block of message data to the trace and holds it; what is
    // held is written once it is large, with sendTimeout seconds per wait.
    void QueueData(std::string_view block, std::int32_t sendTimeout);
    // Writes what is held (with the time-out it was queued with).
    void FlushData();
    // Flushes held data, then reads one whole reply (multi-line included)
    // into the receive buffer, cut to it, traces it and returns its code.
    // The whole reply must arrive within recvTimeout seconds (capped by the
    // wait limit), else 402; 418 past ReplyScanner::kDefaultCap bytes
    // without a final line; the transport's codes.
    int ReadReply(std::int32_t recvTimeout);
    // A plain server's reply met by a TLS handshake, begun by the bytes the
    // handshake took, with whatever else has already arrived: the last
    // reply, traced.
    void KeepPlainReply(std::string_view start) noexcept;

    // The last reply as received, NUL-terminated, cut to the receive buffer;
    // LastReplyLength() bytes long (a NUL inside it is a byte of the reply).
    const char* LastReply() const noexcept { return m_recvBuffer.get(); }
    std::size_t LastReplyLength() const noexcept { return m_replyLength; }
    // Bytes of the last reply that followed its final line.
    std::size_t ReplyTrailing() const noexcept { return m_replyTrailing; }
    void ClearReply() noexcept;
    // Forgets held data (the connection is gone).
    void DropData() noexcept { m_outbox.clear(); }

  private:
    SmtpTransport& m_transport;
    TracePolicy& m_trace;
    std::unique_ptr<char[]> m_sendBuffer;
    std::unique_ptr<char[]> m_recvBuffer;
    std::size_t m_replyLength = 0;
    std::size_t m_replyTrailing = 0;
    std::string m_outbox;  // data blocks traced but not yet written
    std::int32_t m_outboxTimeout = 0;
};
