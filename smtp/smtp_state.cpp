// The session's state: its one setter, and the connection steps that move
// it (connect, secure, close).
#include <algorithm>
#include <array>
#include <cstdio>

#include "smtp/internal/connection.h"
#include "smtp/internal/session_state.h"
#include "smtp/smtp.h"

void CSmtp::SetState(SessionState next) noexcept {
    const SessionState now = m_state;
    if (next == now || (now == SessionState::kFailed && next != SessionState::kNoSocket &&
                        next != SessionState::kConnecting)) {
        return;
    }
    if (now == SessionState::kInData) {
        m_link->trace.DataEnded();  // the mail's data is over, sent or abandoned
    }
    m_state = next;
    std::array<char, 64> line{};
    const std::string_view from = SessionStateName(now);
    const std::string_view to = SessionStateName(next);
    const int length = std::snprintf(line.data(), line.size(), "%.*s%.*s -> %.*s",
                                     static_cast<int>(kTraceStatePrefix.size()),
                                     kTraceStatePrefix.data(), static_cast<int>(from.size()),
                                     from.data(), static_cast<int>(to.size()), to.data());
    if (length > 0) {
        m_link->trace.State(
            {line.data(), std::min(static_cast<std::size_t>(length), line.size() - 1)});
    }
    const std::optional<SmtpStage> stage = StageOf(next);
    // Progress is for show; a failing sink must not end an exchange (or,
    // from the closing QUIT, a destructor).
    if (stage && m_stage) {
        try {
            m_stage(*stage);
        } catch (...) {
        }
    }
}

bool CSmtp::QuitOwed() const noexcept {
    return QuitOwedIn(m_state);
}

bool CSmtp::Usable() const noexcept {
    return m_link->transport.HasSocket() && m_state != SessionState::kFailed;
}

void CSmtp::Connect(const char* host, std::uint16_t port) {
    CloseConnection();
    m_link->transport.ClearTlsReport();
    SetState(SessionState::kConnecting);
    try {
        m_link->transport.Connect(host, port);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    SetState(SessionState::kConnected);
}

void CSmtp::StartTls() {
    // Only a handshake that opens the connection can meet a plain greeting.
    const bool first = m_state == SessionState::kConnected;
    SetState(SessionState::kSecuring);
    try {
        m_link->StartTls(first);
    } catch (...) {
        SetState(SessionState::kFailed);
        throw;
    }
    SetState(SessionState::kSecured);
}

void CSmtp::CloseConnection() noexcept {
    m_link->Close();
    SetState(SessionState::kNoSocket);
}
