// The connection under CSmtp, in three layers: the transport (TCP and TLS),
// the line engine over it (send buffer, held data, whole replies) and the
// trace policy both report to. CSmtp runs the SMTP dialogue and keeps the
// session's state; this layer moves bytes and knows no SMTP reply.
//
// Private to smtp/ (scripts/check-layering.sh refuses it elsewhere, tests of
// smtp/ aside).
#pragma once

#include "smtp/internal/line_engine.h"
#include "smtp/internal/trace_policy.h"
#include "smtp/internal/transport.h"

struct SmtpConnection {
    // TLS over the open socket (SmtpTransport::StartTls). A failed handshake
    // traces one text "tls: <problem>: <detail>\r\n"; one that met a plain
    // SMTP reply (420) first makes that reply the last reply, traced.
    void StartTls(bool first);
    // Closes the socket and drops whatever was held. Does nothing more
    // without a socket; keeps the TLS report and the last reply.
    void Close() noexcept;

    TracePolicy trace;
    SmtpTransport transport;
    SmtpLineEngine lines{transport, trace};
};
