// Watching a handshake and reporting why it failed.
#include "smtp/internal/handshake_report.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "smtp/internal/certificate_info.h"

namespace {

HandshakeNotes* NotesOf(const SSL* tls) noexcept {
    return tls == nullptr ? nullptr : static_cast<HandshakeNotes*>(SSL_get_ex_data(tls, 0));
}

// OpenSSL reports each record header it reads (write_p 0) as SSL3_RT_HEADER
// before it checks the version in it.
void RecordFirstHeader(int writeP, int /*version*/, int contentType, const void* bytes,
                       std::size_t length, SSL* tls, void* /*arg*/) {
    HandshakeNotes* notes = NotesOf(tls);
    if (notes != nullptr && writeP == 0 && contentType == SSL3_RT_HEADER &&
        notes->firstHeader.empty()) {
        notes->firstHeader.assign(static_cast<const char*>(bytes), length);
    }
}

int RecordLeaf(int preverified, X509_STORE_CTX* store) {
    const auto* tls = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    HandshakeNotes* notes = NotesOf(tls);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (notes != nullptr && !notes->leaf && leaf != nullptr && X509_up_ref(leaf) == 1) {
        notes->leaf.reset(leaf);
    }
    return preverified;
}

// The reasons OpenSSL gives when client and server share no TLS version:
// the server's alert, or its choice of a version below our minimum.
bool MeansNoCommonVersion(unsigned long error) noexcept {
    if (ERR_GET_LIB(error) != ERR_LIB_SSL) {
        return false;
    }
    switch (ERR_GET_REASON(error)) {
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_WRONG_SSL_VERSION:
        case SSL_R_VERSION_TOO_LOW: return true;
        default: return false;
    }
}

}  // namespace

void X509Free::operator()(X509* certificate) const noexcept {
    X509_free(certificate);
}

void WatchHandshake(SSL* tls, HandshakeNotes* notes) noexcept {
    SSL_set_ex_data(tls, 0, notes);
    SSL_set_msg_callback(tls, RecordFirstHeader);
    SSL_set_verify(tls, SSL_VERIFY_PEER, RecordLeaf);
}

void StopWatching(SSL* tls) noexcept {
    SSL_set_msg_callback(tls, nullptr);
    SSL_set_ex_data(tls, 0, nullptr);
}

TlsReport ReportFailedHandshake(const SSL* tls, const HandshakeNotes& notes, bool plainPossible) {
    unsigned long first = 0;
    bool noCommonVersion = false;
    for (unsigned long error = 0; (error = ERR_get_error()) != 0;) {
        first = first == 0 ? error : first;
        noCommonVersion = noCommonVersion || MeansNoCommonVersion(error);
    }
    TlsReport report;
    const long verified = SSL_get_verify_result(tls);
    if (plainPossible && LooksLikePlainSmtp(notes.firstHeader)) {
        report.problem = TlsProblem::kPlainText;
    } else if (verified != X509_V_OK) {
        report.problem = TlsProblemOfVerifyResult(verified);
        report.detail = X509_verify_cert_error_string(verified);
    } else if (noCommonVersion) {
        report.problem = TlsProblem::kProtocolTooOld;
    } else {
        report.problem = TlsProblem::kOther;
    }
    if (report.detail.empty() && first != 0) {
        const char* reason = ERR_reason_error_string(first);
        report.detail = reason == nullptr ? "" : reason;
    }
    if (notes.leaf) {
        report.certificate = DescribeCertificate(notes.leaf.get());
    } else {
        const std::unique_ptr<X509, X509Free> peer(SSL_get1_peer_certificate(tls));
        if (peer) {
            report.certificate = DescribeCertificate(peer.get());
        }
    }
    return report;
}
