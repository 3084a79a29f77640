// The server certificate as the TLS report shows it (smtp/tls_report.h).
#pragma once

#include <openssl/types.h>

#include "smtp/tls_report.h"

// Subject, issuer, validity, SHA-256 fingerprint and names of certificate
// (not null). Fields OpenSSL cannot render stay empty.
TlsCertificate DescribeCertificate(X509* certificate);
