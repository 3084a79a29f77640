// The connection under CSmtp: the socket, the TLS session, the send and
// receive buffers, sending (commands and held message data), reading whole
// replies, every wait with its time-out and the owner's abort, and the
// connection's one state. CSmtp runs the SMTP dialogue over it and decides
// what each reply means; this layer only moves bytes and keeps the state.
//
// Private to smtp/ (scripts/check-layering.sh refuses it elsewhere, tests of
// smtp/ aside).
#pragma once

#include <openssl/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "smtp/command_table.h"
#include "smtp/smtp.h"
#include "smtp/tls_report.h"

struct HandshakeNotes;  // smtp/internal/handshake_report.h

// Where the connection stands. Only SmtpConnection::SetState changes it.
enum class SessionState : std::uint8_t {
    kNoSocket,       // nothing open
    kConnecting,     // host lookup and connect under way
    kConnected,      // TCP up; EHLO not answered yet
    kSecuring,       // TLS handshake under way
    kSecured,        // TLS up; EHLO not answered over it yet
    kGreeted,        // EHLO answered: QUIT owed from here on
    kLoggingIn,      // AUTH under way
    kReady,          // logged in, or no login needed: a mail may begin
    kInTransaction,  // MAIL FROM on its way or answered
    kInData,         // the server took DATA: every byte is message text
    kClosing,        // QUIT on its way
    kFailed,         // nothing more may be sent, QUIT included
};

// The state's name as traced ("no socket", "greeted", ...).
std::string_view SessionStateName(SessionState state) noexcept;

class SmtpConnection {
  public:
    SmtpConnection();
    // Closes without QUIT; saying QUIT is the dialogue's business.
    ~SmtpConnection();

    SmtpConnection(const SmtpConnection&) = delete;
    SmtpConnection& operator=(const SmtpConnection&) = delete;

    // What the owner set on CSmtp; see smtp.h.
    void SetTraceSink(SmtpTraceSink sink, CSmtp::DataTrace data);
    void SetStageSink(SmtpStageSink sink) { m_stage = std::move(sink); }
    void SetWaitLimit(std::chrono::milliseconds limit) noexcept { m_waitLimit = limit; }
    void SetAbort(std::shared_ptr<const SmtpAbort> abort) noexcept { m_abort = std::move(abort); }
    void SetConnectTo(std::optional<SmtpEndpoint> target) { m_connectTo = std::move(target); }

    // The one state. SetState traces each change as one text beginning with
    // kTraceStatePrefix and gives the stage sink its SmtpStage when next
    // begins one: kConnecting, kSecuring, kLoggingIn, kInTransaction
    // (SmtpStage::kSending) and kClosing. A failed connection stays failed
    // until it is closed (next kNoSocket) or opened again (kConnecting);
    // other changes out of kFailed are ignored. Never throws.
    void SetState(SessionState next) noexcept;
    SessionState State() const noexcept { return m_state; }
    // From the EHLO reply up to the transaction's data: QUIT can be heard.
    bool QuitOwed() const noexcept;
    // Open and not failed: bytes may still be sent. Sending otherwise
    // raises 400 (ERR_CONNECTION_CLOSED) before touching the socket.
    bool Usable() const noexcept;
    bool HasSocket() const noexcept { return m_socket >= 0; }
    // The socket's descriptor, -1 when none (getpeername and the like).
    int Descriptor() const noexcept { return m_socket; }

    // Opens a TCP connection to host (dotted IPv4 or a name, its first IPv4
    // address) on port (0: the services database's "mail" port, else 25),
    // from kNoSocket through kConnecting to kConnected, and clears the TLS
    // report; to the SetConnectTo target instead when there is one (host is
    // still the name TLS checks). Codes: 111 refused (at once or during the wait), 104 any
    // other connect error, 105, 106, 108, 109 (the wait itself failed),
    // 403, 419.
    void Open(const char* host, std::uint16_t port);
    // TLS over the open socket, verifying the host given to Open (kSecuring,
    // then kSecured). 414 TLS or verification; 420 when the handshake is the
    // connection's first exchange (kConnected) and the server answered it
    // with an SMTP reply, which then becomes the last reply; 402, 109, 419
    // waits. A failed handshake (414, 420) fills the TLS report and traces
    // one text "tls: <problem>: <detail>\r\n".
    void StartTls();
    // What the last failed handshake of this connection learnt; kNone after
    // Open and while none failed. Close keeps it.
    const TlsReport& GetTlsReport() const noexcept { return m_tlsReport; }
    // Sends TLS close_notify when TLS is up, closes the socket, drops
    // whatever was held and goes to kNoSocket. Does nothing without a
    // socket.
    void Close() noexcept;

    // Copies text into the send buffer; 210 when it does not fit.
    void SetSendText(std::string_view text);
    // Writes the send buffer's text after any held data, in one write, with
    // row's send time-out per wait; traces it with the bytes from
    // redactFrom on replaced by kTraceCredentialMarker.
    void Transmit(const SmtpCommandRow& row, std::size_t redactFrom = std::string_view::npos);
    // Holds one data block (traced as the data trace mode says) and writes
    // what is held once it is large; FlushData writes the rest.
    void QueueData(std::string_view block);
    void FlushData();
    // Flushes held data, then reads one whole reply (multi-line included)
    // into the receive buffer, cut to it, traces it and returns its code.
    // The whole reply must arrive within row's receive time-out (capped by
    // the wait limit), else 402; 418 past ReplyScanner::kDefaultCap bytes
    // without a final line, on plain and TLS connections alike. A 421 reply
    // (the server is closing, RFC 5321 3.8) leaves the connection kFailed.
    int ReadReply(const SmtpCommandRow& row);
    // The last reply as received, NUL-terminated, cut to the receive buffer;
    // LastReplyLength() bytes long (a NUL inside it is a byte of the reply).
    const char* LastReply() const noexcept { return m_recvBuffer.get(); }
    std::size_t LastReplyLength() const noexcept { return m_replyLength; }
    // Bytes of the last reply that followed its final line.
    std::size_t ReplyTrailing() const noexcept { return m_replyTrailing; }
    void ClearReply() noexcept;

    // Hands text to the trace sink; what the sink throws is dropped.
    void Trace(std::string_view text) const noexcept;

    // Channel failures: every code above except 210 leaves the connection
    // kFailed before it leaves the call.

  private:
    struct Tls;

    void Connect(const char* host, std::uint16_t port);
    // first: the handshake opens the connection (TLS from the start).
    void Handshake(bool first);
    // Fills the TLS report from the failed handshake of tls, traces it and
    // raises 414, or 420 for a plain server met by a first handshake.
    [[noreturn]] void FailHandshake(const SSL* tls, const HandshakeNotes& notes, bool first);
    // The plain server's reply, begun by the header bytes OpenSSL took, with
    // whatever else has already arrived: the last reply, traced.
    void KeepPlainReply(std::string_view header) noexcept;
    void WriteAll(std::string_view bytes, const SmtpCommandRow& row);
    void WriteTls(std::string_view bytes, const SmtpCommandRow& row);
    // One chunk of a reply into the receive buffer, waiting no later than
    // deadline; its byte count.
    std::size_t Receive(std::chrono::steady_clock::time_point deadline);
    std::size_t ReceiveTls(std::chrono::steady_clock::time_point deadline);
    short WaitFor(short events, int millis);
    int WaitMillis(std::int32_t seconds) const noexcept;
    void FlushDataTrace();
    void TraceDataSummary() noexcept;

    SessionState m_state = SessionState::kNoSocket;
    int m_socket = -1;
    std::unique_ptr<Tls> m_tls;
    std::string m_peerName;  // checked against the server's certificate
    std::unique_ptr<char[]> m_sendBuffer;
    std::unique_ptr<char[]> m_recvBuffer;
    std::size_t m_replyLength = 0;
    std::size_t m_replyTrailing = 0;
    std::string m_outbox;  // data blocks traced but not yet written
    TlsReport m_tlsReport;

    SmtpTraceSink m_trace;
    CSmtp::DataTrace m_dataTrace = CSmtp::DataTrace::kSummary;
    std::string m_dataTraceHold;    // kGrouped blocks not yet traced
    std::uint64_t m_dataBytes = 0;  // kSummary: this mail's data so far
    std::uint64_t m_dataBlocks = 0;
    SmtpStageSink m_stage;
    std::chrono::milliseconds m_waitLimit{0};
    std::shared_ptr<const SmtpAbort> m_abort;
    std::optional<SmtpEndpoint> m_connectTo;  // tests: where Open connects instead
};
