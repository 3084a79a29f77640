// Sends one mail with CSmtp and exits: the process the mail benchmark times
// from start to exit, beside a curl process sending the same mail.
//
//   send_mail_once HOST PORT LOGIN PASSWORD BODY [--null-trace]
//
// BODY is "test" for the setup program's test mail with eight short lines
// (its four Shift_JIS test lines among them), or a number N for N body lines
// of 70 characters (BenchBodyLine). The mail goes over TLS from the start
// with authentication, as the test mail does, with the trace in the system
// log unless --null-trace turns it off. Trusted certificates come from
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
#include "smtp/smtp.h"

namespace {

// The setup program's four test lines in Shift_JIS: "Wakebell", an
// ideographic space and "テストOKです。"; "このデスクトップアプリは電源の状態が
// 変わったとき指定された"; "メールアドレスにメールを送信するものです。";
// "送信するメールの種類はログオン、ログオフ、スリープ、スタンバイの４つです。"
constexpr const char* kTestLines[] = {
    "Wakebell"
    "\x81\x40\x83\x65\x83\x58\x83\x67\x4F\x4B\x82\xC5\x82\xB7\x81\x42",
    "\x82\xB1\x82\xCC\x83\x66\x83\x58\x83\x4E\x83\x67\x83\x62\x83\x76\x83\x41"
    "\x83\x76\x83\x8A\x82\xCD\x93\x64\x8C\xB9\x82\xCC\x8F\xF3\x91\xD4\x82\xAA"
    "\x95\xCF\x82\xED\x82\xC1\x82\xBD\x82\xC6\x82\xAB\x8E\x77\x92\xE8\x82\xB3"
    "\x82\xEA\x82\xBD",
    "\x83\x81\x81\x5B\x83\x8B\x83\x41\x83\x68\x83\x8C\x83\x58\x82\xC9\x83\x81"
    "\x81\x5B\x83\x8B\x82\xF0\x91\x97\x90\x4D\x82\xB7\x82\xE9\x82\xE0\x82\xCC"
    "\x82\xC5\x82\xB7\x81\x42",
    "\x91\x97\x90\x4D\x82\xB7\x82\xE9\x83\x81\x81\x5B\x83\x8B\x82\xCC\x8E\xED"
    "\x97\xDE\x82\xCD\x83\x8D\x83\x4F\x83\x49\x83\x93\x81\x41\x83\x8D\x83\x4F"
    "\x83\x49\x83\x74\x81\x41\x83\x58\x83\x8A\x81\x5B\x83\x76\x81\x41\x83\x58"
    "\x83\x5E\x83\x93\x83\x6F\x83\x43\x82\xCC\x82\x53\x82\xC2\x82\xC5\x82\xB7"
    "\x81\x42",
    "Sent by the mail benchmark of Wakebell setup.",
    "TLS from the start, AUTH PLAIN, one recipient.",
    "Three ASCII lines and an empty one make eight.",
    "",
};

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
    try {
        CSmtp smtp;
        if (argc == 7) {
            smtp.SetTraceSink(nullptr);
        }
        // The fields the setup program's test mail fills, in its order.
        smtp.SetSecurity(SECURITY_TLS);
        smtp.SetServer(argv[1], static_cast<std::uint16_t>(port), true);
        smtp.SetUserLogin(argv[3]);
        smtp.SetUserPassword(argv[4]);
        smtp.SetSenderName(kBenchRecipient);
        smtp.SetSenderAddress(kBenchSender);
        smtp.SetReplyAddress(kBenchRecipient);
        smtp.SetSubjectLine("test mail");
        smtp.AddRecipient(kBenchRecipient);
        smtp.SetPriority(PRIORITY_NORMAL);
        smtp.SetMailerText("Wakebell x64 Version 3.0");
        if (lines == 0) {
            for (const char* line : kTestLines) {
                smtp.AddBodyLine(line);
            }
        } else {
            std::string line;
            for (unsigned long i = 0; i < lines; ++i) {
                BenchBodyLine(i, line);
                smtp.AddBodyLine(line.c_str());
            }
        }
        g_boundary = "test";
        smtp.SendMail();
        smtp.CloseSession();
    } catch (const ECSmtp& failure) {
        std::fprintf(stderr, "send_mail_once: CSmtp failed: %d %s\n", failure.Code(),
                     failure.Describe().c_str());
        return 1;
    }
    return 0;
}
