// Chief header of the SMTP client: include this one.
//
// CSmtp carries one mail to one server. The owner configures it, and
// OpenSession connects, secures (STARTTLS or TLS from the start), greets,
// says EHLO and logs in when the server offers AUTH. SendMail then carries
// the envelope, the header (smtp/message_header.h), the body lines and any
// attachments (smtp/data_stream.h) on that connection.
//
// The error model (smtp/smtp_error.h): every failure raises ECSmtp, a
// std::exception, with one code; nothing returns an error value. A
// connection step that fails closes what it opened before the exception
// leaves the client, and the error that leaves is the first one raised.
//
// Replies are judged where a refusal would otherwise pass for success:
//   greeting not 2xx -> 401, EHLO not 2xx -> 301, STARTTLS not 220 -> 413
//   (also when bytes follow that reply: they came in clear text, RFC 3207);
//   the login runs the first mechanism of kAuthMechanisms the server offers
//   (smtp/auth_mechanisms.h): its AUTH line not answered 334 -> the row's
//   refusal code, a line of the exchange or a challenge its builder refuses
//   -> the code the builder names, the last reply not 235 -> 406;
//   MAIL FROM not 250 -> 300 (521 included), RCPT TO not 250 or 251 -> 309,
//   DATA not 354 -> 307, the end of data not 250 -> 310. A 521 reply
//   anywhere also sets g_reply521. QUIT's reply is never judged.
//
// TLS always verifies the server: the system's trusted certificates (which
// honour SSL_CERT_FILE and SSL_CERT_DIR), the host name or IP address given
// to SetServer/OpenSession checked against the certificate, SNI for a host
// name, TLS 1.2 or later. A failed verification is 414, and so is any other
// failed handshake, except that a server answering TLS from the start with a
// plain SMTP reply ("220 ...": a port that expects STARTTLS or no TLS) is
// 420. GetTlsReport then says which check failed and shows the server's
// certificate.
//
// The session's state (the states listed at SmtpTraceSink) is kept in one
// place, CSmtp's m_state with its one setter; whether QUIT is owed and
// whether the connection can still be used are read from it alone, and
// every change of it is traced (SmtpTraceSink). The connection under it
// (smtp/internal/connection.h) moves bytes and knows no SMTP reply.
//
// One object serves one thread and one connection.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/body_text.h"
#include "smtp/capabilities.h"
#include "smtp/client_hooks.h"
#include "smtp/command_table.h"
#include "smtp/limits.h"
#include "smtp/message_header.h"
#include "smtp/smtp_abort.h"
#include "smtp/smtp_error.h"
#include "smtp/tls_report.h"

enum SmtpSecurity : std::int32_t {
    SECURITY_NONE = 0,
    SECURITY_STARTTLS = 1,
    SECURITY_TLS = 2,
    SECURITY_KEEP = 3,  // OpenSession only: keep the mode already chosen
};

struct AuthMechanism;  // smtp/auth_mechanisms.h

// Any other value is written as normal priority.
// Set to 1 by any reply whose code is 521; only a new mail clears it.
// Atomic: clients on other threads (the form's server probes) may set it
// while a mail is sent.
extern std::atomic<int> g_reply521;

// The MIME boundary of a mail without attachments; the owner sets it before
// SendMail. Process-wide: one mail at a time per process.
extern std::string g_boundary;

struct SmtpConnection;                   // smtp/internal/connection.h
enum class SessionState : std::uint8_t;  // smtp/internal/session_state.h

class CSmtp {
  public:
    // Takes the local host name for EHLO (107 when gethostname fails).
    CSmtp();
    // Sends QUIT when one is owed (QuitOwed()), then releases. A failure
    // of that QUIT cannot leave a destructor and is dropped: owners that must
    // know call CloseSession themselves first.
    virtual ~CSmtp();

    CSmtp(const CSmtp&) = delete;
    CSmtp& operator=(const CSmtp&) = delete;

    // Configuration. Each text replaces the member's whole value.
    void SetServer(const char* host, std::uint16_t port, bool authenticate = true);
    void SetUserLogin(const char* login);
    void SetUserPassword(const char* password);
    void SetSenderAddress(const char* address);
    void SetSenderName(const char* name);
    void SetReplyAddress(const char* address);
    void SetSubjectLine(const char* subject);
    void SetMailerText(const char* mailer);
    void SetPriority(SmtpPriority priority);
    // Must be called before the connection opens.
    void SetSecurity(SmtpSecurity security);
    // A null address raises 209 and adds nothing; a null name or body line
    // is empty.
    void AddRecipient(const char* address, const char* name = nullptr);
    void AddCcRecipient(const char* address, const char* name = nullptr);
    // Bcc recipients get their RCPT TO but are named in no header line.
    void AddBccRecipient(const char* address, const char* name = nullptr);
    void AddBodyLine(const char* text);
    // A file sent as a base64 part; read when the mail is sent, opened
    // close-on-exec. A null path raises 404.
    void AddAttachment(const char* path);
    // Declares the text part HTML; honoured only for a mail with attachments.
    void SetHtml(bool html) noexcept { m_html = html; }

    // Raises 412 when index is not below GetBodyLineCount(). The text stays
    // valid until the next AddBodyLine.
    std::string_view GetBodyLine(std::uint32_t index) const;
    std::size_t GetBodyLineCount() const noexcept { return m_bodyLines.LineCount(); }
    const char* GetLocalHost() const noexcept { return m_localHost.c_str(); }

    // Connects to host (name or dotted IPv4 address; a name resolves to its
    // first IPv4 address, 105 when it does not resolve) on port (0: the
    // services database's "mail" port, else 25), secures the connection as
    // security says (SECURITY_KEEP keeps SetSecurity's choice), reads the
    // greeting, says EHLO (again after STARTTLS) and, when authenticate is
    // true and the server offers AUTH, logs in with the first mechanism of
    // kAuthMechanisms that the server offers (417 when none).
    // The EHLO reply is read once (smtp/capabilities.h): STARTTLS and AUTH
    // count only as a line's keyword, mechanisms only on an AUTH line.
    // A non-null login or password replaces the configured one first; an
    // empty login raises 204, an empty password 205, before any AUTH line.
    //
    // Codes: 111 connection refused (nothing listens on the port, told at
    // once or during the connect wait), 104 any other connect error, 105,
    // 106 socket, 108 fcntl, 109 a failed wait (poll), 403 no connection in
    // time, 402 no answer in time, 400 connection closed, 102/103 send/recv,
    // 414 TLS or verification, 420 an SMTP reply where TLS from the start
    // expected its first record (that reply becomes the last reply), 416
    // STARTTLS not offered, 210 a line too long for the send buffer, 418 a
    // reply without end, the codes the mechanisms' builders raise for a
    // challenge they refuse or a response they cannot make (smtp/
    // auth_mechanisms.h), 419 once the owner's abort fires (SetAbort), and
    // the reply codes listed at the top.
    //
    // Each reply must arrive whole within its command's receive time-out
    // (command_table.h), however the server paces its bytes, else 402. A
    // reply is cut to the receive buffer once its code is known, over plain
    // TCP and TLS alike; 418 when 1 MiB passes without its final line.
    //
    // On failure the connection is closed and the first error raised again:
    // a failing QUIT never takes its place. QUIT is sent first once EHLO was
    // answered, unless the server answered 421 (it is closing) or 530, or
    // the channel itself failed (102, 103, 109, 400, 402, 414, 418, 420, and
    // 419 after an abort; also a STARTTLS 220 followed by more bytes, after
    // which nothing goes out in clear text).
    bool OpenSession(const char* host, std::uint16_t port, SmtpSecurity security, bool authenticate,
                     const char* login, const char* password);
    // Sends QUIT when one is owed (QuitOwed()), then closes the socket.
    // The socket is closed even when QUIT fails; that failure is then
    // raised.
    void CloseSession();

    // Sends one mail: opens the connection first when none is open (with the
    // configured server, port, security mode and authenticate flag), then
    // MAIL FROM, one RCPT TO per recipient (To, then Cc, then Bcc), DATA, the
    // header, the body lines (a line starting with "." is dot-stuffed; no
    // body lines give one line holding a blank), and then: without
    // attachments the close delimiter "--" g_boundary "--"; with them
    // "--" g_boundary after any body lines, each attachment as a base64 part
    // and the attachments' close delimiter. Then the end of data. The
    // connection stays open.
    //
    // Every mail gets a Message-ID of its own (RFC 5322, 3.6.4): 128 bits
    // from the random source (SetRandom) and the domain MessageIdDomain
    // finds in the sender address or the configured server name. Body lines
    // holding a byte of 0x80 or above (RFC 6152): to a server whose EHLO
    // offered 8BITMIME, MAIL FROM carries " BODY=8BITMIME" and the text part
    // is declared 8bit; to any other, the text part goes in base64 (the
    // lines joined by CR LF, in lines of 76 characters), so that no such
    // byte reaches it. Other bodies are 7bit, with no BODY parameter. No
    // header line carries such a byte (smtp/message_header.h).
    //
    // Checked before anything is sent: 211 when an address, display name,
    // subject, mailer text, reply address or g_boundary holds a CR or LF; 213
    // when the sender's or a recipient's address holds "<", ">", a blank,
    // another control byte, DEL or a byte of 0x80 or above, or the reply
    // address a byte of 0x80 or above; 200 when g_boundary holds a byte of
    // 0x80 or above; 310 when a body line holds a CR or LF; 404 when an
    // attachment path names something other than a regular file (a folder, a
    // device, a FIFO); 405 when the attachments' sizes already total 5 MiB +
    // 1 KiB or more; 421 when the random source fails. A connection already
    // open stays open after these. Then 201 no sender, 203 no To recipient
    // (after MAIL FROM), 404 an attachment that cannot be opened or read as a
    // regular file (after its part header), 405 when the files grew past the
    // limit meanwhile (counted while they are read), 409 the clock failed,
    // the reply codes listed at the top, and those of the channel. After a
    // failure the connection is closed: with QUIT while the server is taking
    // commands, without it once the data has begun (QUIT would only become
    // part of an abandoned message), after a 421 reply (the server is
    // closing) or when the channel itself failed. A failing QUIT never hides
    // the first error.
    void SendMail();

    // Where the trace goes; until replaced, SystemLogTraceSink() with
    // DataTrace::kSummary. Each command and each reply is one text. Message
    // data is traced as it is handed over, before it is written in large
    // pieces (so after a failure inside the data the last blocks traced may
    // never have reached the server): one text per block (the header, a body
    // line, a batch of attachment lines) with kPerBlock, blocks grouped into
    // texts of about 4 KiB with kGrouped, or with kSummary no message text at
    // all but one text per mail, "<message data: N bytes in M blocks>",
    // before the end of data (or when a mail is abandoned inside its data).
    // The system log persists and other administrators may read it, so it
    // gets the summary unless an owner asks for more.
    using DataTrace = SmtpDataTrace;
    void SetTraceSink(SmtpTraceSink sink, DataTrace data = DataTrace::kPerBlock);
    // Caps every wait (connect, handshake, each send) and every whole reply
    // at limit, so that tests need not wait for the command table's
    // time-outs. Zero restores the table's values.
    void SetWaitLimit(std::chrono::milliseconds limit) noexcept;
    // For tests: every connection goes to target instead of the server and
    // port given to SetServer or OpenSession, while TLS still sends SNI for
    // that server's name and checks the certificate against it. nullopt:
    // the server and port, as usual. Codes as for the server (105, 111...).
    void SetConnectTo(std::optional<SmtpEndpoint> target);
    // The clock of the Date line; std::time until replaced.
    void SetClock(SmtpClock clock) { m_clock = std::move(clock); }
    // The random source of the Message-ID and of a DIGEST-MD5 client nonce;
    // until replaced, and when random is empty, the system's CSPRNG
    // (getrandom(2)).
    void SetRandom(SmtpRandom random) { m_random = std::move(random); }
    // Lets another thread end the exchange (smtp/smtp_abort.h): once abort
    // fires, every operation raises 419 and closes without QUIT. Null: none.
    void SetAbort(std::shared_ptr<const SmtpAbort> abort) noexcept;
    // Receives the stages above; none until set. What the sink throws is
    // dropped.
    void SetStageSink(SmtpStageSink sink);

    // The last complete reply as received, NUL-terminated, cut to the
    // receive buffer; empty before the first reply.
    const char* GetLastReply() const noexcept;
    // What the last failed TLS handshake learnt (from the start or after
    // STARTTLS): the problem, OpenSSL's text for it and the server's
    // certificate when it sent one. Reset by each OpenSession (kNone until a
    // handshake fails); kept after the failed session is closed.
    const TlsReport& GetTlsReport() const noexcept;
    // The SASL mechanisms of the last EHLO reply (upper case, the server's
    // order; none for a refused EHLO). Reset by each OpenSession; kept after
    // the session is closed, for a report of what the server offered.
    const std::vector<std::string>& GetOfferedMechanisms() const noexcept {
        return m_offeredMechanisms;
    }
    // A connection that has answered EHLO and may still hear QUIT.
    bool QuitOwed() const noexcept;
    bool HasSocket() const noexcept;

  private:
    // The session's one state setter. Traces each change as one text
    // beginning with kTraceStatePrefix and gives the stage sink the SmtpStage
    // that next begins (StageOf); leaving kInData ends the data's trace. A
    // failed session stays failed until it is closed (next kNoSocket) or
    // opened again (kConnecting); other changes out of kFailed are ignored.
    void SetState(SessionState next) noexcept;
    // Open and not failed: bytes may still be sent. Sending otherwise
    // raises 400 (ERR_CONNECTION_CLOSED) before touching the socket.
    bool Usable() const noexcept;
    // The connection steps under the state: kConnecting to kConnected,
    // kSecuring to kSecured, and the close to kNoSocket. A failing step
    // leaves the session kFailed.
    void Connect(const char* host, std::uint16_t port);
    void StartTls();
    void CloseConnection() noexcept;

    // The dialogue's steps over the connection (m_link).
    void SendEhlo();
    void UpgradeToTls();
    void SendQuit();
    // Reads one whole reply with row's receive time-out into the receive
    // buffer, traces it and returns its code (smtp/internal/line_engine.h).
    // A 421 reply (the server is closing, RFC 5321 3.8) leaves the session
    // kFailed, as does any failure of the channel (all codes but 210).
    int ReadReply(const SmtpCommandRow& row);
    // Formats text into the send buffer; 210 when it does not fit.
    void SetSendText(std::string_view text);
    // Sends the send buffer's text after any data held by QueueData; the
    // bytes from redactFrom on are traced as kTraceCredentialMarker.
    void Transmit(const SmtpCommandRow& row, std::size_t redactFrom = std::string_view::npos);
    // Traces one data block and holds it for a later, larger write.
    void QueueData(std::string_view block);
    // SetSendText + Transmit + ReadReply; returns the reply code.
    int Command(SmtpCommand command, std::string_view text,
                std::size_t redactFrom = std::string_view::npos);
    // Closes after a failure without raising: QUIT first only when the
    // connection's state says one is owed, and its failure is dropped.
    void Shutdown() noexcept;

    // The transaction's parts.
    void CheckMailTexts() const;
    void CheckAttachments() const;
    // Fills bytes from the random source (SetRandom); false when it fails.
    bool Random(std::span<unsigned char> bytes) const;
    // "<id@domain>" for this mail; 421 when the random source fails.
    std::string NewMessageId() const;
    void RunTransaction(std::string_view messageId);
    void ComposeHeader(std::string& header, std::string_view messageId,
                       TextEncoding encoding) const;
    // The body lines in base64 (TextEncoding::kBase64), in batches.
    void SendBase64Body();
    void SendAttachment(const std::string& path, std::uint64_t& total);
    // Closes after a failed transaction: QUIT only while it can be heard.
    void AbandonTransaction() noexcept;

    void Authenticate(bool authenticate, const char* login, const char* password);
    // Runs one row of kAuthMechanisms: the AUTH line, then a line for each
    // challenge as the row's builder says, until the last reply.
    void RunAuthMechanism(const AuthMechanism& mechanism);
    // The decoded challenge of the last reply, a one-line 334 reply; nullopt
    // when the reply is of another form or its text is not base64.
    std::optional<std::string> ReadChallenge() const;

    std::string m_localHost;
    std::string m_senderAddress;
    std::string m_senderName;
    std::string m_subject;
    std::string m_mailer;
    std::string m_replyTo;
    std::string m_login;
    std::string m_password;
    std::string m_server;
    std::uint16_t m_port = 0;
    bool m_authenticate = true;
    SmtpPriority m_priority = PRIORITY_NORMAL;
    std::vector<SmtpRecipient> m_recipients;
    std::vector<SmtpRecipient> m_ccRecipients;
    std::vector<SmtpRecipient> m_bccRecipients;
    std::vector<std::string> m_attachments;
    BodyText m_bodyLines;
    bool m_html = false;
    SmtpSecurity m_security = SECURITY_NONE;
    // What the last EHLO reply offered; nothing while no connection is open.
    SmtpCapabilities m_capabilities;
    // The mechanisms of the last EHLO reply, kept past the session's end.
    std::vector<std::string> m_offeredMechanisms;
    SmtpClock m_clock;
    SmtpRandom m_random;
    SmtpStageSink m_stage;
    // Where the session stands (smtp/internal/session_state.h); only
    // SetState changes it. Zero is kNoSocket.
    SessionState m_state{};
    // The transport, the line engine and the trace policy.
    std::unique_ptr<SmtpConnection> m_link;
};
