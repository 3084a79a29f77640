// The connection sequence: connect, TLS as the security mode says,
// greeting, EHLO, STARTTLS, authentication; and its end.
#include <cstring>
#include <optional>

#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/smtp.h"

bool CSmtp::OpenSession(const char* host, std::uint16_t port, SmtpSecurity security,
                        bool authenticate, const char* login, const char* password) {
    if (HasSocket()) {
        CloseSession();  // one connection at a time; never leak the one open
    }
    m_link->lines.ClearReply();
    m_offeredMechanisms.clear();
    try {
        Connect(host, port);
        if (security != SECURITY_KEEP) {
            m_security = security;
        }
        if (m_security == SECURITY_TLS) {
            StartTls();
        }
        if (ReadReply(*LookupCommand(CMD_GREETING)) / 100 != 2) {
            throw ECSmtp(ERR_SERVER_NOT_READY);
        }
        SendEhlo();
        if (m_security == SECURITY_STARTTLS) {
            UpgradeToTls();
            SendEhlo();
        }
        Authenticate(authenticate, login, password);
        SetState(SessionState::kReady);
    } catch (const ECSmtp&) {
        // RFC 4954 4: a server that answers 530 wants nothing before its
        // condition is met, QUIT included.
        if (std::strncmp(GetLastReply(), "530", 3) == 0) {
            SetState(SessionState::kFailed);
        }
        Shutdown();
        throw;
    } catch (...) {
        SetState(SessionState::kFailed);
        Shutdown();
        throw;
    }
    return true;
}

void CSmtp::CloseSession() {
    std::optional<ECSmtp> quitFailure;
    if (QuitOwed()) {
        try {
            SendQuit();
        } catch (const ECSmtp& failure) {
            quitFailure = failure;
        } catch (...) {
            CloseConnection();
            m_capabilities = {};
            throw;
        }
    }
    CloseConnection();
    m_capabilities = {};
    if (quitFailure) {
        throw *quitFailure;
    }
}

void CSmtp::Shutdown() noexcept {
    if (QuitOwed()) {
        try {
            SendQuit();
        } catch (...) {
            // The failure that brought us here is the one to report.
        }
    }
    CloseConnection();
    m_capabilities = {};
}
