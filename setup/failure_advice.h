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

// Everything the advice is chosen from. Texts are UTF-8.
struct TestFailureFacts {
    std::int32_t code = 0;                // the ECSmtp code
    std::string lastReply;                // the server's last reply, as received
    std::vector<std::string> mechanisms;  // the AUTH mechanisms the server offered
    TlsReport tls;                        // what the handshake learnt, when TLS failed
    std::string host;                     // SMTP-Server as typed
    std::string portText;                 // SMTP-PortNo as typed
};

struct FailureAdvice {
    // False only when the user cancelled: that is no fault of the settings,
    // so the box leaves out the request to change them.
    bool settingsAtFault = true;
    // One or two polite sentences: what failed and which field to change.
    std::string reason;
    // The port speaks plain SMTP and is not 465: testing again on 465 is
    // the certain fix, so the box offers it.
    bool offerPort465 = false;
};

// The advice for a failed test. A code without a sentence of its own gets
// its English text from the client's error table.
FailureAdvice AdviseOnTestFailure(const TestFailureFacts& facts);

// The port the test is offered again on when a port speaks plain SMTP.
inline constexpr const char* kImplicitTlsPort = "465";
// The question that offers it (はい: test again on 465).
inline constexpr const char* kRetryOnImplicitTlsPortQuestion =
    "SMTP-PortNoを465にして、もう一度テストしますか？";

// A server's reply as one line a person can read in a message box: line
// ends become spaces, control bytes and bytes that are not ASCII become
// '?', and a long reply is cut to maxBytes with "..." after it.
std::string ReplyForPerson(std::string_view reply, std::size_t maxBytes = 300);
