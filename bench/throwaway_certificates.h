// A certificate authority made up on the spot and one server certificate it
// signs, for benchmarks that need a TLS server on 127.0.0.1 which a verifying
// client accepts. Nothing here is meant to outlive the process.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

struct X509Free {
    void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};
struct EvpPkeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
using UniqueX509 = std::unique_ptr<X509, X509Free>;
using UniqueEvpPkey = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

struct ThrowawayCertificates {
    UniqueX509 authority;  // self-signed, CA:TRUE; what the client must trust
    UniqueEvpPkey authorityKey;
    UniqueX509 server;  // names ipAddress in subjectAltName, signed by authority
    UniqueEvpPkey serverKey;
};

// P-256 keys, SHA-256 signatures, valid from an hour ago for one day.
// Throws std::runtime_error when OpenSSL refuses a step.
ThrowawayCertificates MakeThrowawayCertificates(const std::string& ipAddress);

// Appends certificate as PEM to the file at path (made when missing); throws
// std::runtime_error on failure.
void AppendPem(const X509* certificate, const std::string& path);
