// Reading the server certificate's names, issuer and dates for the TLS
// report.
#include "smtp/internal/certificate_info.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

struct BioFree {
    void operator()(BIO* bio) const noexcept { BIO_free(bio); }
};
struct NamesFree {
    void operator()(GENERAL_NAMES* names) const noexcept { GENERAL_NAMES_free(names); }
};

// Names come from the server: bytes a person could be misled by (controls,
// DEL) are shown as '?'.
std::string Printable(std::string text) {
    for (char& byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20 || value == 0x7F) {
            byte = '?';
        }
    }
    return text;
}

std::string OneLine(const X509_NAME* name) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? Printable(std::string(data, static_cast<std::size_t>(size))) : std::string();
}

std::string UtcText(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) {
        return {};
    }
    std::array<char, 32> text{};
    const std::size_t length =
        std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S UTC", &parts);
    return std::string(text.data(), length);
}

std::string Fingerprint(const X509* certificate) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest.data(), &length) != 1) {
        return {};
    }
    std::string text;
    std::array<char, 4> byte{};
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(byte.data(), byte.size(), i == 0 ? "%02X" : ":%02X", digest[i]);
        text += byte.data();
    }
    return text;
}

std::string IpText(const ASN1_OCTET_STRING* address) {
    const int length = ASN1_STRING_length(address);
    const unsigned char* bytes = ASN1_STRING_get0_data(address);
    if (length != 4 || bytes == nullptr) {
        return "(IP address)";
    }
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text.data();
}

std::vector<std::string> Names(X509* certificate) {
    std::vector<std::string> names;
    std::unique_ptr<GENERAL_NAMES, NamesFree> alternatives(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    if (alternatives) {
        for (int i = 0; i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
            if (name->type == GEN_DNS) {
                const ASN1_IA5STRING* dns = name->d.dNSName;
                names.push_back(
                    Printable(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                                          static_cast<std::size_t>(ASN1_STRING_length(dns)))));
            } else if (name->type == GEN_IPADD) {
                names.push_back(IpText(name->d.iPAddress));
            }
        }
    }
    if (names.empty()) {
        // No alternative names: the subject's common name is the only one.
        std::array<char, 256> common{};
        const int length =
            X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName,
                                      common.data(), static_cast<int>(common.size()));
        if (length > 0) {
            names.push_back(
                Printable(std::string(common.data(), static_cast<std::size_t>(length))));
        }
    }
    return names;
}

}  // namespace

TlsCertificate DescribeCertificate(X509* certificate) {
    TlsCertificate info;
    info.subject = OneLine(X509_get_subject_name(certificate));
    info.issuer = OneLine(X509_get_issuer_name(certificate));
    info.notBefore = UtcText(X509_get0_notBefore(certificate));
    info.notAfter = UtcText(X509_get0_notAfter(certificate));
    info.sha256 = Fingerprint(certificate);
    info.names = Names(certificate);
    info.selfSigned =
        X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)) == 0;
    return info;
}
