// What a client TLS handshake leaves behind for its failure report
// (smtp/tls_report.h): the first record header the server sent, the
// server's own certificate as verification saw it, and OpenSSL's verdict.
//
// Private to smtp/; the connection layer (smtp/internal/connection.h) wires
// it to each handshake.
#pragma once

#include <openssl/types.h>

#include <memory>
#include <string>

#include "smtp/tls_report.h"

struct X509Free {
    void operator()(X509* certificate) const noexcept;
};

struct HandshakeNotes {
    // The first TLS record header received (OpenSSL hands over its 5 bytes
    // before it judges them); empty until one arrives.
    std::string firstHeader;
    // The certificate the server presented for itself, kept even when
    // verification refuses it (OpenSSL then keeps no peer certificate).
    std::unique_ptr<X509, X509Free> leaf;
};

// Has tls's handshake fill notes: a message callback for the first record
// header, and a verify callback that records the server's certificate and
// leaves every verification verdict as OpenSSL reached it. notes must
// outlive the handshake; StopWatching ends it once the handshake is done.
// Both use tls's application data (ex_data index 0).
void WatchHandshake(SSL* tls, HandshakeNotes* notes) noexcept;
void StopWatching(SSL* tls) noexcept;

// The report of tls's failed handshake, read from notes, the verification
// result and OpenSSL's error queue (which it empties):
//   kPlainText   when plainPossible and the first header is an SMTP reply
//                (LooksLikePlainSmtp): a plain server on a TLS port;
//   the verification's problem (TlsProblemOfVerifyResult) when it failed,
//                with X509_verify_cert_error_string as the detail;
//   kProtocolTooOld when OpenSSL's errors say no version is in common;
//   kOther       otherwise.
// The detail is, when not the verification's, the first error's reason
// text ("wrong version number"); the certificate is the server's when it
// sent one.
TlsReport ReportFailedHandshake(const SSL* tls, const HandshakeNotes& notes, bool plainPossible);
