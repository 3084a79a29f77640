// The test mail: one mail through the user's own SMTP server with the
// settings just entered, which proves them before they are stored.
//
// The mail check is a library of its own below the form (mailcheck/,
// wakebell_mailcheck): it uses the SMTP client and nothing of Qt, of the
// settings store or of the form, so the form, its tests and the benchmarks
// send the very same mail.
//
// Errors: SendTestMail reports every failure in its TestMailResult, as the
// ECSmtp code the client raised (ERR_NONE and result 0 on success) with the
// server's last reply, the stage reached, the exchange and what TLS learnt;
// no ECSmtp leaves it, only std::bad_alloc. The text form returns the same
// result's 0 or 1, and each writes one report line to options.report.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "smtp/smtp.h"
#include "smtp/tls_report.h"

// The two addresses of the test mail are of two types, so that one cannot
// be passed where the other belongs. Both are made only explicitly.
//
// The address the test mail goes to: the user's own (the form's E-Mail).
// It is also the From line's display name and the Reply-To text.
struct RecipientAddress {
    RecipientAddress() = default;
    explicit RecipientAddress(std::string address) : text(std::move(address)) {}
    std::string text;
    friend bool operator==(const RecipientAddress&, const RecipientAddress&) = default;
};
// The address the test mail comes from: MAIL FROM and the From line's
// address (the form's To, the address to be notified).
struct SenderAddress {
    SenderAddress() = default;
    explicit SenderAddress(std::string address) : text(std::move(address)) {}
    std::string text;
    friend bool operator==(const SenderAddress&, const SenderAddress&) = default;
};

// Where the body lines come from.
struct TestMailBody {
    // The four test lines (check_mail_content.h).
    static TestMailBody TestLines() { return {}; }
    // Every line of the text file at path, without its line end; a file
    // that cannot be read is 404.
    static TestMailBody FileLines(std::string path) { return {false, std::move(path)}; }

    bool testLines = true;
    std::string file;  // when not testLines
    friend bool operator==(const TestMailBody&, const TestMailBody&) = default;
};

// What the test mail is, in the bytes that go out (CP932 from the form).
struct TestMailArguments {
    std::string host;      // SMTP server name or dotted IPv4 address
    std::string portText;  // read as PortFromText says; 212 when no port can be that number
    std::string login;     // for AUTH, when the server offers it
    std::string password;
    RecipientAddress recipient;
    SenderAddress sender;
    std::string subject;
    std::string boundary;  // becomes g_boundary (process-wide: one test at a time)
    SmtpSecurity security = SECURITY_TLS;
    TestMailBody body;

    friend bool operator==(const TestMailArguments&, const TestMailArguments&) = default;
};

// How the test mail runs, for a caller on another thread, and tests.
struct TestMailOptions {
    // Ends the exchange at once from another thread (419, result 1).
    std::shared_ptr<const SmtpAbort> abort;
    // Told each stage of the exchange, on the calling thread; after
    // onStartTlsRetry, the second connection's stages, kConnecting first.
    SmtpStageSink onStage;
    // Told once, on the calling thread, when TLS from the start met a plain
    // SMTP greeting and the test is about to connect again with STARTTLS.
    // What it throws is dropped.
    std::function<void()> onStartTlsRetry;
    // Caps every wait of the client (CSmtp::SetWaitLimit); 0: the client's
    // own time-outs.
    std::chrono::milliseconds waitLimit{0};
    // The Date line's clock; std::time when empty.
    SmtpClock clock;
    // The Message-ID's random source; the system's CSPRNG when empty.
    SmtpRandom random;
    // The client's trace, one text per data block. When empty, the system
    // log, which gets each mail's data as one summary line (the result's
    // exchange then records the data in groups of about 4 KiB).
    SmtpTraceSink trace;
    // Where the one-line report goes; null: nowhere.
    std::FILE* report = stdout;
    // For tests: connect here instead of the typed server and port; TLS
    // still checks the certificate against the typed host name.
    std::optional<SmtpEndpoint> connectTo;
};

// The exchange of TestMailResult keeps at most this many bytes of the
// trace's beginning and of its end.
inline constexpr std::size_t kExchangeHeadBytes = std::size_t{8} * 1024;
inline constexpr std::size_t kExchangeTailBytes = std::size_t{24} * 1024;
// The line of TestMailResult::exchange between the two connections of a
// test whose TLS from the start met a plain SMTP greeting.
inline constexpr std::string_view kStartTlsRetryLine =
    "[... the server greeted in plain text: connecting again with STARTTLS ...]\r\n";

// What became of one test mail.
struct TestMailResult {
    // 0 when the mail was sent and the connection closed with QUIT, else 1.
    int result = 1;
    // The ECSmtp code of the failure; ERR_NONE (0) on success.
    std::int32_t code = ERR_NONE;
    // The server's last reply before the client began to close (so after a
    // refusal its text, not the answer to the QUIT that followed), without
    // its final CR LF; multi-line replies keep their inner line ends. Empty
    // when the server said nothing.
    std::string lastReply;
    // The last stage the client announced; none when it failed before
    // connecting (a bad port, an unreadable body file).
    std::optional<SmtpStage> lastStage;
    // The exchange as the client's trace recorded it: commands, replies and
    // message data as sent, with user names, passwords and SASL responses
    // already replaced by kTraceCredentialMarker. Raw bytes (the body is
    // Shift_JIS). After a second connection (startTlsAfterPlainGreeting)
    // both exchanges, the first, kStartTlsRetryLine, then the second. A
    // longer record keeps its first kExchangeHeadBytes and its last
    // kExchangeTailBytes, cut at line ends, with one line
    // "[... N bytes left out ...]" between them.
    std::string exchange;
    // The SASL mechanisms the server offered in its last EHLO reply (upper
    // case, its order); empty when it offered none or was never greeted.
    std::vector<std::string> mechanisms;
    // What a failed TLS handshake learnt: which check failed, and the
    // server's certificate when it sent one; kNone when no handshake failed.
    TlsReport tls;
    // TLS from the start met a plain SMTP greeting (420) and the test
    // connected again with STARTTLS; code, lastReply, lastStage, mechanisms
    // and tls are then the second connection's.
    bool startTlsAfterPlainGreeting = false;
};

// Sends one test mail:
//   To (one recipient) and Reply-To: arguments.recipient, also as the From
//   line's display name; MAIL FROM and the From line's address:
//   arguments.sender; the subject; the body lines, always followed by one
//   empty line; priority normal, mailer text kTestMailMailer,
//   authentication requested, the security mode given.
// Then closes with QUIT. Every ECSmtp the client raises on the way (its
// construction, the port, the body file, the transaction, the closing QUIT)
// makes result 1 with its code.
//
// When TLS from the start meets a plain SMTP greeting (420: a port such as
// 587 that expects STARTTLS), the test connects once more to the same host
// and port with a fresh client in SECURITY_STARTTLS, the certificate
// verified as before, and the result is that connection's. TLS is required
// there: STARTTLS not offered (416), refused (413) or a failed handshake
// (414) end the test with that code, and nothing but EHLO, STARTTLS and
// QUIT has gone out in clear text. No other failure is tried again.
//
// Writes "Mail was send successfully.\n" or "Error: " + the code's text +
// ".\n" to options.report, once, for the outcome. Raises nothing but what is
// not an ECSmtp (std::bad_alloc).
TestMailResult SendTestMail(const TestMailArguments& arguments,
                            const TestMailOptions& options = {});

// The same with the ten arguments as text; returns the result's 0 or 1.
//   host, portText   the server; the port text is read as PortFromText
//                    says (212 when no port can be that number)
//   login, password  for AUTH, when the server offers it
//   userAddress      the recipient (RecipientAddress)
//   subject          the subject line
//   senderAddress    the sender (SenderAddress)
//   boundary         becomes g_boundary
//   securityMode     1 TLS from the start (STARTTLS after a plain
//                    greeting, as above), 2 STARTTLS, else none
//   bodySource       kTestLinesMarkerText (or any text beginning with its
//                    byte) for the four test lines, else the path of a text
//                    file whose lines form the body
// A null text counts as empty.
int SendTestMail(const char* host, const char* portText, const char* login, const char* password,
                 const char* userAddress, const char* subject, const char* senderAddress,
                 const char* boundary, int securityMode, const char* bodySource,
                 const TestMailOptions& options = {});

// Writes SendTestMail's failure line for `failure` to options.report and
// returns 1, for callers that fail before SendTestMail could run.
int ReportTestMailFailure(const TestMailOptions& options, const ECSmtp& failure);
