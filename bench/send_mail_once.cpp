// Sends one mail with CSmtp and exits: the process the mail benchmark times
// from start to exit, beside a curl process sending the same mail.
//
//   send_mail_once HOST PORT LOGIN PASSWORD BODY [--null-trace]
//
// BODY is "test" for the setup program's test mail itself (SendTestMail of
// mailcheck/mail_check.h: its four Shift_JIS test lines and the empty
// line), or a number N for a mail of the same fields with N body lines of 70
// characters (BenchBodyLine). The mail goes over TLS from the start with
// authentication, as the test mail does, with the trace in the system log
// unless --null-trace turns it off. Trusted certificates come from
// OpenSSL's defaults, so the caller points SSL_CERT_FILE at its CA.
//
// Exit status 0 when the server took the mail and the session closed with
// QUIT; 1 with a one-line reason on standard error when CSmtp failed; 2 for
// a bad command line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench/bench_mail.h"
#include "mailcheck/check_mail_content.h"
#include "mailcheck/mail_check.h"
#include "smtp/smtp.h"

namespace {

int Usage() {
    std::fputs("usage: send_mail_once HOST PORT LOGIN PASSWORD test|LINES [--null-trace]\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 7 || (argc == 7 && std::string_view(argv[6]) != "--null-trace")) {
        return Usage();
    }
    char* end = nullptr;
    const unsigned long port = std::strtoul(argv[2], &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) {
        return Usage();
    }
    const std::string_view body = argv[5];
    unsigned long lines = 0;
    if (body != "test") {
        lines = std::strtoul(argv[5], &end, 10);
        if (*end != '\0' || lines == 0) {
            return Usage();
        }
    }
    const bool nullTrace = argc == 7;
    if (lines == 0) {
        TestMailOptions options;
        if (nullTrace) {
            options.trace = [](std::string_view) {};
        }
        options.report = nullptr;
        const TestMailResult sent = SendTestMail({.host = argv[1],
                                                  .portText = argv[2],
                                                  .login = argv[3],
                                                  .password = argv[4],
                                                  .recipient = RecipientAddress(kBenchRecipient),
                                                  .sender = SenderAddress(kBenchSender),
                                                  .subject = kTestMailSubject,
                                                  .boundary = kTestMailBoundary,
                                                  .security = SECURITY_TLS,
                                                  .body = TestMailBody::TestLines()},
                                                 options);
        if (sent.result != 0) {
            std::fprintf(stderr, "send_mail_once: CSmtp failed: %d %s (%s)\n", sent.code,
                         ECSmtp(sent.code).Describe().c_str(), sent.lastReply.c_str());
            return 1;
        }
        return 0;
    }
    try {
        CSmtp smtp;
        if (nullTrace) {
            smtp.SetTraceSink(nullptr);
        }
        // The test mail's fields (SendTestMail), with many more body lines.
        smtp.SetSecurity(SECURITY_TLS);
        smtp.SetServer(argv[1], static_cast<std::uint16_t>(port), true);
        smtp.SetUserLogin(argv[3]);
        smtp.SetUserPassword(argv[4]);
        smtp.SetSenderName(kBenchRecipient);
        smtp.SetSenderAddress(kBenchSender);
        smtp.SetReplyAddress(kBenchRecipient);
        smtp.SetSubjectLine(kTestMailSubject);
        smtp.AddRecipient(kBenchRecipient);
        smtp.SetPriority(PRIORITY_NORMAL);
        smtp.SetMailerText(kTestMailMailer);
        std::string line;
        for (unsigned long i = 0; i < lines; ++i) {
            BenchBodyLine(i, line);
            smtp.AddBodyLine(line.c_str());
        }
        g_boundary = kTestMailBoundary;
        smtp.SendMail();
        smtp.CloseSession();
    } catch (const ECSmtp& failure) {
        std::fprintf(stderr, "send_mail_once: CSmtp failed: %d %s\n", failure.Code(),
                     failure.Describe().c_str());
        return 1;
    }
    return 0;
}
