// The client's OpenSSL objects, owned through unique_ptr so that every path
// out of the client frees them. Private to smtp/.
#pragma once

#include <openssl/ssl.h>

#include <memory>

#include "smtp/smtp.h"

struct SslCtxFree {
    void operator()(SSL_CTX* ctx) const noexcept { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const noexcept { SSL_free(ssl); }
};

using UniqueSslCtx = std::unique_ptr<SSL_CTX, SslCtxFree>;
using UniqueSsl = std::unique_ptr<SSL, SslFree>;

struct CSmtp::TlsState {
    UniqueSslCtx context;  // from InitTls
    UniqueSsl tls;         // from TlsHandshake; non-null: all traffic is TLS
};
