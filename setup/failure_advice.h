// What the form tells a user whose test mail failed: which step went wrong
// and which field to change, in Japanese, chosen from the client's error
// code, the server's reply and what the TLS handshake learnt. No window
// system here; the form shows the texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/tls_report.h"

// What the box says when the user cancelled the test.
inline constexpr const char* kTestCancelledMessage =
    "通信のテストは中止されました。新しい設定は保存されていません。";

// The port of mail submission with TLS from the first byte (RFC 8314: 465).
inline constexpr const char* kImplicitTlsPort = "465";

// Everything the advice is chosen from. Texts are UTF-8.
struct TestFailureFacts {
    std::int32_t code = 0;                // the ECSmtp code
    std::string lastReply;                // the server's last reply, as received
    std::vector<std::string> mechanisms;  // the AUTH mechanisms the server offered
    TlsReport tls;                        // what the handshake learnt, when TLS failed
    std::string host;                     // SMTP-Server as typed
    std::string portText;                 // SMTP-PortNo as typed
    // TLS from the start met a plain SMTP greeting and the test connected
    // again with STARTTLS: code and reply are that second connection's.
    bool startTlsAfterPlainGreeting = false;
    // The port a server speaks TLS on from the first byte, which the box
    // offers when testing there is the certain fix.
    std::string implicitTlsPort = kImplicitTlsPort;
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
    // Testing again on facts.implicitTlsPort is the certain fix (the port
    // speaks plain SMTP, or is 25 and takes no connection) and SMTP-PortNo
    // is not that port already, so the box offers it.
    bool offerImplicitTlsPort = false;
};

// The advice for a failed test: for a Cancel that it was cancelled; else
// the first row of the providers' table (provider_advice.h) that matches
// the facts, followed by the server's reply; else the advice for the code.
// A code without a sentence of its own gets its English text from the
// client's error table.
FailureAdvice AdviseOnTestFailure(const TestFailureFacts& facts);

// The question that offers testing again on `port` (はい: put it in
// SMTP-PortNo and test again), UTF-8.
std::string RetryOnImplicitTlsPortQuestion(std::string_view port);

// A server's reply as one line a person can read in a message box: line
// ends become spaces, control bytes and bytes that are not ASCII become
// '?', and a long reply is cut to maxBytes with "..." after it.
std::string ReplyForPerson(std::string_view reply, std::size_t maxBytes = 300);
