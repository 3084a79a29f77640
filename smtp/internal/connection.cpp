// Opening, securing and closing the three layers together.
#include "smtp/internal/connection.h"

#include <string>

#include "smtp/client_hooks.h"
#include "smtp/smtp_error.h"
#include "smtp/tls_report.h"

void SmtpConnection::StartTls(bool first) {
    try {
        transport.StartTls(first);
    } catch (const ECSmtp&) {
        if (transport.HandshakeFailed()) {
            const TlsReport& report = transport.GetTlsReport();
            if (report.problem == TlsProblem::kPlainText) {
                lines.KeepPlainReply(transport.PlainReplyStart());
            }
            std::string line(kTraceTlsPrefix);
            line.append(TlsProblemName(report.problem)).append(": ").append(report.detail);
            trace.Tls(line.append("\r\n"));
        }
        throw;
    }
}

void SmtpConnection::Close() noexcept {
    transport.Close();
    lines.DropData();
    trace.DropHeld();
}
