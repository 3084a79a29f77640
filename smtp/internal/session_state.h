// Where the dialogue with the server stands: the states CSmtp moves through
// (CSmtp::SetState is their one setter), their traced names and the
// progress stage each one begins.
//
// Private to smtp/: the CSmtp sources use it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "smtp/client_hooks.h"

enum class SessionState : std::uint8_t {
    kNoSocket = 0,   // nothing open
    kConnecting,     // host lookup and connect under way
    kConnected,      // TCP up; EHLO not answered yet
    kSecuring,       // TLS handshake under way
    kSecured,        // TLS up; EHLO not answered over it yet
    kGreeted,        // EHLO answered: QUIT owed from here on
    kLoggingIn,      // AUTH under way
    kReady,          // logged in, or no login needed: a mail may begin
    kInTransaction,  // MAIL FROM on its way or answered
    kInData,         // the server took DATA: every byte is message text
    kClosing,        // QUIT on its way
    kFailed,         // nothing more may be sent, QUIT included
};

// The state's name as traced ("no socket", "greeted", ...).
std::string_view SessionStateName(SessionState state) noexcept;

// The SmtpStage that state begins: kConnecting, kSecuring, kLoggingIn,
// kInTransaction (SmtpStage::kSending) and kClosing do; the others none.
std::optional<SmtpStage> StageOf(SessionState state) noexcept;

// From the EHLO reply up to the transaction's data: QUIT can be heard.
bool QuitOwedIn(SessionState state) noexcept;
