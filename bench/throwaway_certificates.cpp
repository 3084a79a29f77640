#include "bench/throwaway_certificates.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace {

void Check(bool ok, const char* step) {
    if (!ok) {
        throw std::runtime_error(std::string("throwaway certificates: ") + step + " failed");
    }
}

UniqueEvpPkey NewKey() {
    UniqueEvpPkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    Check(key != nullptr, "EC key generation");
    return key;
}

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context{};
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    Check(extension != nullptr && X509_add_ext(certificate, extension, -1) == 1, value);
    X509_EXTENSION_free(extension);
}

// A certificate for key with the given common name; issuer, extensions and
// signature are added by the caller.
UniqueX509 NewCertificate(EVP_PKEY* key, const char* commonName, long serial) {
    UniqueX509 certificate(X509_new());
    Check(certificate != nullptr, "X509_new");
    X509* c = certificate.get();
    X509_NAME* name = X509_get_subject_name(c);
    Check(X509_set_version(c, X509_VERSION_3) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(c), serial) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(c), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(c), 86400) != nullptr &&
              X509_set_pubkey(c, key) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                         0) == 1,
          "certificate fields");
    return certificate;
}

}  // namespace

ThrowawayCertificates MakeThrowawayCertificates(const std::string& ipAddress) {
    ThrowawayCertificates made;
    made.authorityKey = NewKey();
    made.authority = NewCertificate(made.authorityKey.get(), "Wakebell benchmark CA", 1);
    X509* ca = made.authority.get();
    Check(X509_set_issuer_name(ca, X509_get_subject_name(ca)) == 1, "CA issuer");
    AddExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca, ca, NID_subject_key_identifier, "hash");
    Check(X509_sign(ca, made.authorityKey.get(), EVP_sha256()) > 0, "CA signature");

    made.serverKey = NewKey();
    made.server = NewCertificate(made.serverKey.get(), ipAddress.c_str(), 2);
    X509* server = made.server.get();
    const std::string altName = "IP:" + ipAddress;
    Check(X509_set_issuer_name(server, X509_get_subject_name(ca)) == 1, "server issuer");
    AddExtension(server, ca, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(server, ca, NID_key_usage, "critical,digitalSignature");
    AddExtension(server, ca, NID_ext_key_usage, "serverAuth");
    AddExtension(server, ca, NID_subject_alt_name, altName.c_str());
    AddExtension(server, ca, NID_authority_key_identifier, "keyid");
    Check(X509_sign(server, made.authorityKey.get(), EVP_sha256()) > 0, "server signature");
    return made;
}

void AppendPem(const X509* certificate, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "a");
    Check(file != nullptr, "opening the PEM file");
    const bool written = PEM_write_X509(file, certificate) == 1;
    const bool closed = std::fclose(file) == 0;
    Check(written && closed, "writing the PEM file");
}
