#include "setup/test_mail.h"

#include <array>
#include <string>

#include "setup/test_mail_content.h"

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
void AddFileLines(CSmtp& mail, const char* path) {
    const UniqueFile file(std::fopen(path, "rb"));
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

void Send(const char* host, const char* portText, const char* login, const char* password,
          const char* userAddress, const char* subject, const char* senderAddress,
          const char* boundary, int securityMode, const char* bodySource,
          const TestMailOptions& options) {
    CSmtp mail;
    mail.SetAbort(options.abort);
    mail.SetStageSink(options.onStage);
    mail.SetWaitLimit(options.waitLimit);
    if (options.clock) {
        mail.SetClock(options.clock);
    }
    if (options.trace) {
        mail.SetTraceSink(options.trace);
    }
    mail.SetSecurity(SecurityFromMode(securityMode));
    const std::optional<std::uint16_t> port = PortFromText(Text(portText));
    if (!port) {
        throw ECSmtp(ERR_BAD_PORT);
    }
    mail.SetServer(Text(host), *port, true);
    mail.SetUserLogin(Text(login));
    mail.SetUserPassword(Text(password));
    mail.SetSenderName(Text(userAddress));
    mail.SetSenderAddress(Text(senderAddress));
    mail.SetReplyAddress(Text(userAddress));
    mail.SetSubjectLine(Text(subject));
    mail.AddRecipient(Text(userAddress));
    mail.SetPriority(PRIORITY_NORMAL);
    mail.SetMailerText(kTestMailMailer);
    const std::string_view source = Text(bodySource);
    // On this system a byte 7 is a valid file name, so the marker is never
    // tried as one.
    if (source.starts_with(kTestLinesMarker)) {
        for (const char* line : kTestMailLines) {
            mail.AddBodyLine(line);
        }
    } else {
        AddFileLines(mail, Text(bodySource));
    }
    mail.AddBodyLine("");
    g_boundary = Text(boundary);
    mail.SendMail();
    // QUIT here rather than in the destructor, where its failure could not
    // be reported; the destructor then finds nothing left to close.
    mail.CloseSession();
}

// Writes the one report line, at once: the program may end soon after.
void Report(const TestMailOptions& options, const std::string& line) {
    std::FILE* report = options.report != nullptr ? options.report : stdout;
    std::fputs(line.c_str(), report);
    std::fflush(report);
}

}  // namespace

int ReportTestMailFailure(const TestMailOptions& options, const ECSmtp& failure) {
    Report(options, "Error: " + failure.Describe() + ".\n");
    return 1;
}

int SendTestMail(const char* host, const char* portText, const char* login, const char* password,
                 const char* userAddress, const char* subject, const char* senderAddress,
                 const char* boundary, int securityMode, const char* bodySource,
                 const TestMailOptions& options) {
    try {
        Send(host, portText, login, password, userAddress, subject, senderAddress, boundary,
             securityMode, bodySource, options);
    } catch (const ECSmtp& failure) {
        return ReportTestMailFailure(options, failure);
    }
    Report(options, "Mail was send successfully.\n");
    return 0;
}
