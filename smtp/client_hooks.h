// What an owner hooks into CSmtp: where the trace and the progress go, the
// clock and the random source, and (for tests) where to connect instead.
// smtp/smtp.h includes it; the connection layer under CSmtp uses it too.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <string_view>

// Receives every transmitted text, every complete reply and every change of
// the connection's state. Lines that carry a user name, a password or a SASL
// response arrive with that payload replaced by kTraceCredentialMarker. A
// change of state is one text "state: <from> -> <to>", such as
// "state: greeted -> logging in"; the states are no socket, connecting,
// connected, securing, secured, greeted, logging in, ready, in transaction,
// in data, closing and failed. A failed TLS handshake is one text
// "tls: <problem>: <detail>\r\n" (TlsProblemName and TlsReport::detail of
// smtp/tls_report.h), such as "tls: expired: certificate has expired".
// What a sink throws is dropped: the trace never changes the exchange.
using SmtpTraceSink = std::function<void(std::string_view text)>;
inline constexpr std::string_view kTraceCredentialMarker = "<credentials hidden>";
inline constexpr std::string_view kTraceStatePrefix = "state: ";
inline constexpr std::string_view kTraceTlsPrefix = "tls: ";

// How message data reaches the trace sink (CSmtp::SetTraceSink): one text
// per block (the header, a body line, a batch of attachment lines), blocks
// grouped into texts of about 4 KiB, or no message text at all but one text
// per mail, "<message data: N bytes in M blocks>", before the end of data
// (or when a mail is abandoned inside its data).
enum class SmtpDataTrace { kPerBlock, kGrouped, kSummary };

// The system log at debug priority, user facility, through its socket
// /dev/log. Each call gives a sink of its own; a sink that cannot reach the
// log (no /dev/log, or it stops taking records) stops trying, so an absent
// log costs one connect attempt, not one per record. Message data never
// reaches the log, whatever SmtpDataTrace mode the sink is given with, also
// when an owner's sink hands it the client's texts as they come: each
// mail's data becomes one "<message data: N bytes in M blocks>" line (the
// log persists, and other administrators may read it). Texts handed to it
// outside the client's own trace calls are logged as they are.
SmtpTraceSink SystemLogTraceSink();

// What the client is about to do, for an owner that shows progress. Each
// stage is announced once as it begins, on the client's thread:
// kConnecting before the host is looked up, kSecuring before a TLS
// handshake (from the start or after STARTTLS), kLoggingIn once the login
// and password are known to be there (before a mechanism is chosen, so also
// when 417 follows), kSending before MAIL FROM, kClosing before QUIT.
enum class SmtpStage { kConnecting, kSecuring, kLoggingIn, kSending, kClosing };
using SmtpStageSink = std::function<void(SmtpStage stage)>;

// Where the client reads the calendar time for the Date line; a value not
// above 0 means the clock failed (409).
using SmtpClock = std::function<std::time_t()>;

// Where the client takes its random bytes: the Message-ID's
// (kMessageIdRandomBytes of them) and a DIGEST-MD5 client nonce's (16).
// Fills bytes and returns true, or returns false when it cannot (421).
using SmtpRandom = std::function<bool(std::span<unsigned char> bytes)>;

// A place to connect to: a dotted IPv4 address (a name is looked up as a
// server name is) and a port (0 as for SetServer).
struct SmtpEndpoint {
    std::string ipv4;
    std::uint16_t port = 0;
    friend bool operator==(const SmtpEndpoint&, const SmtpEndpoint&) = default;
};
