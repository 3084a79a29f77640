// The test mail: one mail through the user's own SMTP server with the
// settings just entered, which proves them before they are stored.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>

#include "smtp/smtp.h"

// What a caller on another thread, and tests, add to the ten arguments.
struct TestMailOptions {
    // Ends the exchange at once from another thread (419, result 1).
    std::shared_ptr<const SmtpAbort> abort;
    // Told each stage of the exchange, on the calling thread.
    SmtpStageSink onStage;
    // Caps every wait of the client (CSmtp::SetWaitLimit); 0: the client's
    // own time-outs.
    std::chrono::milliseconds waitLimit{0};
    // The Date line's clock; std::time when empty.
    SmtpClock clock;
    // The client's trace; the system log when empty.
    SmtpTraceSink trace;
    // Where the one-line report goes.
    std::FILE* report = stdout;
};

// Sends one mail and returns 0 when it was sent and the connection closed
// with QUIT, 1 when the SMTP client raised ECSmtp anywhere on the way (its
// construction, the port, the transaction, the closing QUIT included).
// Writes "Mail was send successfully.\n" or "Error: " + the code's text +
// ".\n" to options.report. Raises nothing but what is not an ECSmtp.
//
//   host, portText   the server; the port text is read as PortFromText
//                    says (212 when no port can be that number)
//   login, password  for AUTH, when the server offers it
//   userAddress      the recipient, the From line's display name and the
//                    Reply-To text
//   subject          the subject line
//   senderAddress    MAIL FROM and the From line's address
//   boundary         becomes g_boundary (process-wide: one test at a time)
//   securityMode     1 TLS from the start, 2 STARTTLS, else none
//   bodySource       kTestLinesMarkerText for the four test lines, or the
//                    path of a text file whose lines (without their line
//                    ends) form the body; a file that cannot be read is 404
//
// The body always ends with one empty line. Priority normal, mailer text
// kTestMailMailer, authentication requested. A null text counts as empty.
int SendTestMail(const char* host, const char* portText, const char* login, const char* password,
                 const char* userAddress, const char* subject, const char* senderAddress,
                 const char* boundary, int securityMode, const char* bodySource,
                 const TestMailOptions& options = {});

// Writes SendTestMail's failure line for `failure` to options.report and
// returns 1, for callers that fail before SendTestMail could run.
int ReportTestMailFailure(const TestMailOptions& options, const ECSmtp& failure);
