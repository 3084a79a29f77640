// Sends the test mail with one client, and once more with STARTTLS after a
// plain greeting, recording the exchange and the outcome.
#include "mailcheck/mail_check.h"

#include <array>
#include <string>
#include <string_view>

#include "mailcheck/check_mail_content.h"
#include "mailcheck/exchange_record.h"

namespace {

const char* Text(const char* text) {
    return text == nullptr ? "" : text;
}

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Every line of the file as a body line. Lines longer than the read buffer
// are put together again rather than split.
void AddFileLines(CSmtp& mail, const std::string& path) {
    const UniqueFile file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    std::array<char, 2000> buffer{};
    std::string line;
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), file.get()) != nullptr) {
        line += buffer.data();
        if (line.ends_with('\n')) {
            mail.AddBodyLine(std::string(WithoutLineEnd(line)).c_str());
            line.clear();
        }
    }
    if (std::ferror(file.get()) != 0) {
        throw ECSmtp(ERR_FILE_NOT_FOUND);
    }
    if (!line.empty()) {
        mail.AddBodyLine(line.c_str());
    }
}

void Send(CSmtp& mail, const TestMailArguments& arguments, const TestMailOptions& options) {
    mail.SetAbort(options.abort);
    mail.SetWaitLimit(options.waitLimit);
    mail.SetConnectTo(options.connectTo);
    mail.SetRandom(options.random);
    if (options.clock) {
        mail.SetClock(options.clock);
    }
    mail.SetSecurity(arguments.security);
    const std::optional<std::uint16_t> port = PortFromText(arguments.portText);
    if (!port) {
        throw ECSmtp(ERR_BAD_PORT);
    }
    const char* recipient = arguments.recipient.text.c_str();
    mail.SetServer(arguments.host.c_str(), *port, true);
    mail.SetUserLogin(arguments.login.c_str());
    mail.SetUserPassword(arguments.password.c_str());
    mail.SetSenderName(recipient);
    mail.SetSenderAddress(arguments.sender.text.c_str());
    mail.SetReplyAddress(recipient);
    mail.SetSubjectLine(arguments.subject.c_str());
    mail.AddRecipient(recipient);
    mail.SetPriority(PRIORITY_NORMAL);
    mail.SetMailerText(kTestMailMailer);
    if (arguments.body.testLines) {
        for (const char* line : kTestMailLines) {
            mail.AddBodyLine(line);
        }
    } else {
        AddFileLines(mail, arguments.body.file);
    }
    mail.AddBodyLine("");
    g_boundary = arguments.boundary;
    mail.SendMail();
    // QUIT here rather than in the destructor, where its failure could not
    // be reported; the destructor then finds nothing left to close.
    mail.CloseSession();
}

std::string WithoutFinalLineEnd(std::string_view reply) {
    if (reply.ends_with("\r\n")) {
        reply.remove_suffix(2);
    }
    return std::string(reply);
}

// Writes the one report line, at once: the program may end soon after.
void Report(const TestMailOptions& options, const std::string& line) {
    if (options.report != nullptr) {
        std::fputs(line.c_str(), options.report);
        std::fflush(options.report);
    }
}

// One connection with a client of its own: its exchange goes into
// `exchange` and its outcome into result's code, lastReply, lastStage,
// mechanisms and tls.
void SendOnce(const TestMailArguments& arguments, const TestMailOptions& options,
              const SmtpTraceSink& forward, ExchangeRecord& exchange, TestMailResult& result) {
    std::optional<std::string> replyBeforeClosing;
    try {
        CSmtp mail;
        // The record first, so that the owner's sink cannot keep a text
        // from it by throwing.
        mail.SetTraceSink(
            [&exchange, &forward](std::string_view text) {
                if (!text.starts_with(kTraceStatePrefix)) {  // the exchange, not its states
                    exchange.Add(text);
                }
                if (forward) {
                    forward(text);
                }
            },
            options.trace ? CSmtp::DataTrace::kPerBlock : CSmtp::DataTrace::kGrouped);
        // Closing begins with QUIT, whose 221 would replace the reply that
        // made the test fail.
        mail.SetStageSink([&result, &replyBeforeClosing, &mail, &options](SmtpStage stage) {
            result.lastStage = stage;
            if (stage == SmtpStage::kClosing && !replyBeforeClosing) {
                replyBeforeClosing = mail.GetLastReply();
            }
            if (options.onStage) {
                options.onStage(stage);
            }
        });
        try {
            Send(mail, arguments, options);
        } catch (const ECSmtp& failure) {
            result.code = failure.Code();
        }
        result.lastReply =
            WithoutFinalLineEnd(replyBeforeClosing ? *replyBeforeClosing : mail.GetLastReply());
        // Both outlive the session's clean-up, so a failure keeps them.
        result.mechanisms = mail.GetOfferedMechanisms();
        result.tls = mail.GetTlsReport();
    } catch (const ECSmtp& failure) {
        result.code = failure.Code();  // the client could not be made
    }
}

}  // namespace

int ReportTestMailFailure(const TestMailOptions& options, const ECSmtp& failure) {
    Report(options, "Error: " + failure.Describe() + ".\n");
    return 1;
}

TestMailResult SendTestMail(const TestMailArguments& arguments, const TestMailOptions& options) {
    TestMailResult result;
    ExchangeRecord exchange(kExchangeHeadBytes, kExchangeTailBytes);
    // One sink for both connections, so that an unreachable log is tried once.
    const SmtpTraceSink forward = options.trace ? options.trace : SystemLogTraceSink();
    SendOnce(arguments, options, forward, exchange, result);
    // RFC 6409 3.1: "Port 587 is reserved for email message submission";
    // a server there greets in clear text and offers STARTTLS (RFC 3207),
    // which TLS from the start meets as a plain greeting. Only that is
    // tried again: a refusal, a time-out or a bad certificate would be the
    // same the second time.
    if (result.code == ERR_TLS_PLAIN_SERVER && arguments.security == SECURITY_TLS) {
        exchange.Add(kStartTlsRetryLine);
        result = TestMailResult{};
        result.startTlsAfterPlainGreeting = true;
        if (options.onStartTlsRetry) {
            try {
                options.onStartTlsRetry();
            } catch (...) {
                // Showing progress never changes the test.
            }
        }
        TestMailArguments again = arguments;
        // TLS required: CSmtp in this mode raises 416, 413 or 414 rather
        // than go on in clear text, before any AUTH or MAIL.
        again.security = SECURITY_STARTTLS;
        SendOnce(again, options, forward, exchange, result);
    }
    result.exchange = exchange.Text();
    result.result = result.code == ERR_NONE ? 0 : 1;
    if (result.result == 0) {
        Report(options, "Mail was send successfully.\n");
    } else {
        ReportTestMailFailure(options, ECSmtp(result.code));
    }
    return result;
}

int SendTestMail(const char* host, const char* portText, const char* login, const char* password,
                 const char* userAddress, const char* subject, const char* senderAddress,
                 const char* boundary, int securityMode, const char* bodySource,
                 const TestMailOptions& options) {
    const std::string_view source = Text(bodySource);
    // On this system a byte 7 is a valid file name, so the marker is never
    // tried as one.
    const TestMailArguments arguments{
        .host = Text(host),
        .portText = Text(portText),
        .login = Text(login),
        .password = Text(password),
        .recipient = RecipientAddress(Text(userAddress)),
        .sender = SenderAddress(Text(senderAddress)),
        .subject = Text(subject),
        .boundary = Text(boundary),
        .security = SecurityFromMode(securityMode),
        .body = source.starts_with(kTestLinesMarker) ? TestMailBody::TestLines()
                                                     : TestMailBody::FileLines(std::string(source)),
    };
    return SendTestMail(arguments, options).result;
}
