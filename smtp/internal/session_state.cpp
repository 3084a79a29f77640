// The session states' names, stages and whether QUIT is owed in each.
#include "smtp/internal/session_state.h"

std::string_view SessionStateName(SessionState state) noexcept {
    switch (state) {
        case SessionState::kNoSocket: return "no socket";
        case SessionState::kConnecting: return "connecting";
        case SessionState::kConnected: return "connected";
        case SessionState::kSecuring: return "securing";
        case SessionState::kSecured: return "secured";
        case SessionState::kGreeted: return "greeted";
        case SessionState::kLoggingIn: return "logging in";
        case SessionState::kReady: return "ready";
        case SessionState::kInTransaction: return "in transaction";
        case SessionState::kInData: return "in data";
        case SessionState::kClosing: return "closing";
        case SessionState::kFailed: return "failed";
    }
    return "unknown";
}

std::optional<SmtpStage> StageOf(SessionState state) noexcept {
    switch (state) {
        case SessionState::kConnecting: return SmtpStage::kConnecting;
        case SessionState::kSecuring: return SmtpStage::kSecuring;
        case SessionState::kLoggingIn: return SmtpStage::kLoggingIn;
        case SessionState::kInTransaction: return SmtpStage::kSending;
        case SessionState::kClosing: return SmtpStage::kClosing;
        default: return std::nullopt;
    }
}

bool QuitOwedIn(SessionState state) noexcept {
    switch (state) {
        case SessionState::kGreeted:
        case SessionState::kLoggingIn:
        case SessionState::kReady:
        case SessionState::kInTransaction: return true;
        default: return false;
    }
}
