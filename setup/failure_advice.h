// What the form tells a user whose test mail failed: which step went wrong
// and which field to change, in Japanese, chosen from the test mail's result
// (the client's error code, the server's reply, the mechanisms it offered,
// what the TLS handshake learnt) and the server as typed. No window system
// here; the form shows the texts.
#pragma once

#include <string>
#include <string_view>

#include "mailcheck/mail_check.h"

// What the box says when the user cancelled the test.
inline constexpr const char* kTestCancelledMessage =
    "通信のテストは中止されました。新しい設定は保存されていません。";

// The port of mail submission with TLS from the first byte (RFC 8314: 465).
inline constexpr const char* kImplicitTlsPort = "465";

// The server fields as typed on the form (UTF-8), which the advice names
// and the providers' rows match.
struct TypedServer {
    std::string host;      // SMTP-Server
    std::string portText;  // SMTP-PortNo
};

// The form's field that advice asks the user to change.
enum class AdviceField { kNone, kSmtpServer, kSmtpPortNo, kAccount, kPassword, kTo, kEMail };

struct FailureAdvice {
    // False only when the user cancelled: that is no fault of the settings,
    // so the box leaves out the request to change them.
    bool settingsAtFault = true;
    // A few polite sentences: what failed and which field to change.
    std::string reason;
    // The one field the sentences ask to change; kNone when they name none
    // or more than one.
    AdviceField field = AdviceField::kNone;
    // Testing again on implicitTlsPort is the certain fix (the port
    // speaks plain SMTP, or is 25 and takes no connection) and SMTP-PortNo
    // is not that port already, so the box offers it.
    bool offerImplicitTlsPort = false;
};

// The advice for the failed test `result` on the server typed: for a Cancel
// (ERR_CANCELLED) that it was cancelled; else the first row of the
// providers' table (provider_advice.h) that matches, followed by the
// server's reply; else the advice for result.code. A code without a
// sentence of its own gets its English text from the client's error table.
// implicitTlsPort: the port a server speaks TLS on from the first byte,
// which the advice offers when testing there is the certain fix.
FailureAdvice AdviseOnTestFailure(const TestMailResult& result, const TypedServer& typed,
                                  std::string_view implicitTlsPort = kImplicitTlsPort);

// The question that offers testing again on `port` (はい: put it in
// SMTP-PortNo and test again), UTF-8.
std::string RetryOnImplicitTlsPortQuestion(std::string_view port);

// A server's reply as one line a person can read in a message box: line
// ends become spaces, control bytes and bytes that are not ASCII become
// '?', and a long reply is cut to maxBytes with "..." after it.
std::string ReplyForPerson(std::string_view reply, std::size_t maxBytes = 300);
