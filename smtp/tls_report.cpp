// Naming the TLS problems, mapping verification results to them, and
// telling a plain SMTP reply by its first bytes.
#include "smtp/tls_report.h"

#include <openssl/x509_vfy.h>

std::string_view TlsProblemName(TlsProblem problem) noexcept {
    switch (problem) {
        case TlsProblem::kNone: return "none";
        case TlsProblem::kUntrustedIssuer: return "untrusted issuer";
        case TlsProblem::kExpired: return "expired";
        case TlsProblem::kNotYetValid: return "not yet valid";
        case TlsProblem::kNameMismatch: return "name mismatch";
        case TlsProblem::kProtocolTooOld: return "protocol too old";
        case TlsProblem::kPlainText: return "plain text";
        case TlsProblem::kOther: return "other";
    }
    return "other";
}

TlsProblem TlsProblemOfVerifyResult(long verifyResult) noexcept {
    switch (verifyResult) {
        case X509_V_OK: return TlsProblem::kNone;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED: return TlsProblem::kUntrustedIssuer;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CRL_HAS_EXPIRED: return TlsProblem::kExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_CRL_NOT_YET_VALID: return TlsProblem::kNotYetValid;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH: return TlsProblem::kNameMismatch;
        default: return TlsProblem::kOther;
    }
}

bool LooksLikePlainSmtp(std::string_view firstBytes) noexcept {
    if (firstBytes.size() < 4) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (firstBytes[i] < '0' || firstBytes[i] > '9') {
            return false;
        }
    }
    const char after = firstBytes[3];
    return after == ' ' || after == '-' || after == '\r';
}

std::string DescribeTlsReport(const TlsReport& report) {
    std::string text;
    const auto line = [&text](std::string_view label, std::string_view value) {
        text.append(label).append(value).append("\n");
    };
    if (!report.detail.empty()) {
        line("TLS: ", report.detail);
    }
    if (report.certificate) {
        const TlsCertificate& certificate = *report.certificate;
        line("Subject: ", certificate.subject);
        line("Issuer: ", certificate.issuer);
        std::string names;
        for (const std::string& name : certificate.names) {
            names += names.empty() ? "" : ", ";
            names += name;
        }
        if (!names.empty()) {
            line("Names: ", names);
        }
        line("Valid from: ", certificate.notBefore);
        line("Valid until: ", certificate.notAfter);
        line("SHA-256: ", certificate.sha256);
    }
    return text;
}
