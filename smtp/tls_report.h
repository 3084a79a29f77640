// What a TLS handshake learnt about the server, for an owner that has to
// explain a failed connection to a person: which check failed, and the
// certificate the server showed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Why the TLS part of a connection failed; kNone when it did not (or never
// began).
enum class TlsProblem {
    kNone,
    kUntrustedIssuer,  // the chain ends at no trusted authority (unknown or self-signed)
    kExpired,          // the certificate's validity has ended
    kNotYetValid,      // ... or not yet begun
    kNameMismatch,     // issued for other names than the host connected to
    kProtocolTooOld,   // no TLS version in common: the server offers only versions before 1.2
    kPlainText,        // the server answered in plain SMTP where a TLS record was expected
    kOther,            // any other handshake failure
};

// The server's own certificate, as a person would compare it with what an
// administrator says.
struct TlsCertificate {
    std::string subject;             // one line, RFC 2253 order ("CN=mail.example.test,O=...")
    std::string issuer;              // the same for the issuer
    std::string notBefore;           // "2026-12-08 10:00:00 UTC"
    std::string notAfter;            // the same form
    std::string sha256;              // "AB:CD:..." (32 bytes in hexadecimal)
    std::vector<std::string> names;  // subjectAltName DNS names and IP addresses, in order
    bool selfSigned = false;         // issuer and subject are the same
};

struct TlsReport {
    TlsProblem problem = TlsProblem::kNone;
    // OpenSSL's text for the failed verification ("certificate has
    // expired"), or for the handshake's first error; empty when none.
    std::string detail;
    // The certificate the server sent, when the handshake got that far.
    std::optional<TlsCertificate> certificate;
};

// The problem's name as the trace shows it ("untrusted issuer", "expired",
// "not yet valid", "name mismatch", "protocol too old", "plain text",
// "other", "none").
std::string_view TlsProblemName(TlsProblem problem) noexcept;

// The problem an X509_V_ERR_* verification result stands for; kNone for
// X509_V_OK, kOther for a result that is none of the above.
TlsProblem TlsProblemOfVerifyResult(long verifyResult) noexcept;

// Whether the first bytes the server sent where a TLS record should have
// begun are an SMTP reply instead: three digits and then a space, '-' or
// CR ("220 mail.example.test ESMTP", "554-..."). A TLS record begins with
// a content-type byte (20..24) and never with a digit.
bool LooksLikePlainSmtp(std::string_view firstBytes) noexcept;

// The report as lines a person can copy to an administrator: the problem's
// detail, then the certificate's subject, issuer, names, validity and
// SHA-256 fingerprint, one per line ("Subject: ..."). Empty for a report
// with neither.
std::string DescribeTlsReport(const TlsReport& report);
