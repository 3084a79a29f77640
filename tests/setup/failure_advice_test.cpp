// The failure advice without a server: each provider's real reply, from its host, gets its
// row's field, offer and sentence; the others, and every branch of the advice by code, get
// theirs from the code, the reply, the mechanisms and the TLS report.
#include "setup/failure_advice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "setup/provider_advice.h"
#include "smtp/smtp_error.h"

namespace {

using F = AdviceField;
constexpr F kPort = F::kSmtpPortNo;

struct Case {
    const char* reply;
    const char* host;
    const char* port;
    std::int32_t code;
    const char* phrase;  // part of the advice (UTF-8)
    AdviceField field = F::kNone;
    bool offer = false;
    bool afterRetry = false;  // TLS from the start met a plain greeting
    std::vector<std::string> mechanisms{};
    TlsReport tls{};
};

constexpr const char* kOAuth = "Wakebellはこれに対応していません。Microsoft 365";
constexpr const char* kNoTls = "STARTTLSにも対応していない";
constexpr const char* kByCode = "AccountまたはPasswordを受け付けませんでした";

// Each row of the table, by the replies that providers really give.
const Case kProviderCases[] = {
    {"534-5.7.9 Application-specific password required. Learn more at\r\n"
     "534 5.7.9  https://support.google.com/mail/?p=InvalidSecondFactor - gsmtp",
     "smtp.gmail.com", "465", ERR_BAD_LOGIN, "myaccount.google.com/apppasswords", F::kPassword},
    {"535 5.7.139 Authentication unsuccessful, basic authentication is disabled.",
     "smtp-mail.outlook.com", "587", ERR_BAD_LOGIN, kOAuth},
    {"535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled",
     "smtp.office365.com", "587", ERR_BAD_LOGIN, kOAuth},
    {"550 5.7.30 Basic authentication is not supported for Client Submission.",
     "mail.example.co.jp", "587", ERR_BAD_LOGIN, kOAuth},
    // The host typed in capitals with a final dot.
    {"535 5.7.3 Authentication unsuccessful", "SMTP.Office365.com.", "587", ERR_BAD_LOGIN, kOAuth},
    {"454 4.7.0 Too many login attempts, please try again later.", "smtp.gmail.com", "465",
     ERR_REPLY_AUTH_LOGIN, "しばらく待ってから"},
    {"451 4.7.0 Temporary server error. Please try again later. PRX4", "smtp.example.test", "465",
     ERR_REPLY_MAIL_FROM, "しばらく待ってから"},
    // 5.7.0 and "Too many" too: the Yahoo row, not the one for 4.7.0.
    {"535 5.7.0 (#AUTH005) Too many bad auth attempts.", "smtp.mail.yahoo.com", "465",
     ERR_BAD_LOGIN, "アプリパスワードを作成し、Passwordの欄", F::kPassword},
    {"554 5.2.252 SendAsDenied; notify@example.test not allowed to send as notify@example.test",
     "smtp.office365.com", "587", ERR_MESSAGE_BODY, "通常はアカウント自身のアドレス", F::kTo},
    {"", "smtp.example.ne.jp", " 25", ERR_CONNECT_TIMEOUT, "OP25B", kPort, true},
    {"", "smtp.gmail.com", "25", ERR_CONNECTION_REFUSED, "OP25B", kPort, true},
    {"535 5.7.139 Authentication unsuccessful, basic authentication is disabled.",
     "smtp-mail.outlook.com", "587", ERR_BAD_LOGIN, "（OAuth2）でしかログインできず"},
    {"250-smtp.example.test\r\n250 AUTH PLAIN LOGIN", "smtp.example.test", "587",
     ERR_STARTTLS_UNSUPPORTED, kNoTls, kPort, true, true},
    // Testing again on the port just tested fixes nothing.
    {"250 OK", "mx.test", "465", ERR_STARTTLS_UNSUPPORTED, kNoTls, kPort, false, true},
};

// What the table leaves to the advice by code (Gmail's wrong password, a name only ending like
// Yahoo's, 5.7.3 elsewhere, a 4.7.0 that is no limit, port 2525, 416 without the retry).
const Case kOtherCases[] = {
    {"535-5.7.8 Username and Password not accepted. For more information, go to\r\n"
     "535 5.7.8  https://support.google.com/mail/?p=BadCredentials 5b1f17b1804b1-4  - gsmtp",
     "smtp.gmail.com", "465", ERR_BAD_LOGIN, kByCode},
    {"535 5.7.8 Authentication failed", "mysmtp.mail.yahoo.com", "465", ERR_BAD_LOGIN, kByCode},
    {"535 5.7.3 Authentication unsuccessful", "mx.test", "465", ERR_BAD_LOGIN, kByCode},
    {"454 4.7.0 TLS not available due to local problem", "mx.test", "587", ERR_REPLY_STARTTLS,
     "暗号化（STARTTLS）を受け付けませんでした", kPort},
    {"", "mx.test", "465", ERR_BAD_ADDRESS_CHARACTER, "全角文字"},
    {"", "mx.test", "2525", ERR_CONNECTION_REFUSED, "2525番は接続を受け付けていません", kPort},
    {"250 AUTH PLAIN", "mx.test", "587", ERR_STARTTLS_UNSUPPORTED, "共通のログイン方式"},
    {"", "mx.test", "587", ERR_TLS_PLAIN_SERVER, "接続するポートは通常465番です。", kPort, true},
};

TlsReport Tls(TlsProblem problem, std::optional<TlsCertificate> certificate = {}) {
    return {problem, "", std::move(certificate)};
}

TlsCertificate Certificate(std::vector<std::string> names, bool selfSigned = false) {
    TlsCertificate certificate;
    certificate.notBefore = "2090-01-01 00:00:00 UTC";
    certificate.notAfter = "2020-01-02 00:00:00 UTC";
    certificate.names = std::move(names);
    certificate.selfSigned = selfSigned;
    return certificate;
}

// One row per branch of the advice by code (and per TLS problem), none a provider's.
const Case kCodeCases[] = {
    {"", "wakebell-test.invalid", "465", ERR_RESOLVE,
     "SMTPサーバー「wakebell-test.invalid」が見つかりませんでした。SMTP-Server", F::kSmtpServer},
    {"", "mx.test", " 2525x", ERR_CONNECTION_REFUSED,
     "「mx.test」のポート2525番は接続を受け付けていません。SMTP-PortNo", kPort},
    {"", "mx.test", "587", ERR_CONNECT_TIMEOUT, "時間内に応答がありませんでした", kPort},
    {"", "mx.test", "587", ERR_NOT_RESPONDING, "時間内に応答がありませんでした", kPort},
    {"", "mx.test", "465", ERR_TLS, "発行した認証局が、このコンピューターでは信頼されていません",
     F::kNone, false, false, {}, Tls(TlsProblem::kUntrustedIssuer)},
    {"", "mx.test", "465", ERR_TLS, "自己署名", F::kNone, false, false, {},
     Tls(TlsProblem::kUntrustedIssuer, Certificate({"mx.test"}, true))},
    {"", "mx.test", "465", ERR_TLS, "有効期限が切れています（2020-01-02 00:00:00 UTCまで）",
     F::kNone, false, false, {}, Tls(TlsProblem::kExpired, Certificate({"mx.test"}))},
    {"", "mx.test", "465", ERR_TLS, "まだ有効になっていません（2090-01-01 00:00:00 UTCから）",
     F::kNone, false, false, {}, Tls(TlsProblem::kNotYetValid, Certificate({"mx.test"}))},
    {"", "127.0.0.1", "465", ERR_TLS,
     "「127.0.0.1」ではなく「mail.example.test、mx.example.test」に発行されています",
     F::kSmtpServer, false, false, {},
     Tls(TlsProblem::kNameMismatch, Certificate({"mail.example.test", "mx.example.test"}))},
    {"", "mx.test", "465", ERR_TLS, "「mx.test」ではなく別の名前に発行されています",
     F::kSmtpServer, false, false, {}, Tls(TlsProblem::kNameMismatch)},
    {"", "mx.test", "465", ERR_TLS, "暗号化方式が古い", F::kNone, false, false, {},
     Tls(TlsProblem::kProtocolTooOld)},
    {"", "mx.test", "465", ERR_TLS, "暗号化した接続（SSL/TLS）を確立できませんでした", F::kNone,
     false, false, {}, Tls(TlsProblem::kOther)},
    // Already on the implicit-TLS port: nothing to offer, the administrator to ask.
    {"", "mx.test", "465", ERR_TLS_PLAIN_SERVER, "サーバーの管理者に確かめてください", kPort},
    {"421 4.3.2 Too busy, try later", "mx.test", "465", ERR_SERVER_NOT_READY,
     "今は接続を受け付けていません"},
    {"535 5.7.8 Authentication credentials invalid", "mx.test", "465", ERR_BAD_LOGIN, kByCode},
    {"535 5.7.8 no", "mx.test", "465", ERR_REPLY_DIGEST_MD5, kByCode},
    {"", "mx.test", "465", ERR_AUTH_LOGIN_UNSUPPORTED,
     "提供する方式: XOAUTH2、GSSAPI。Wakebellが使えるのは", F::kNone, false, false,
     {"XOAUTH2", "GSSAPI"}},
    {"", "mx.test", "465", ERR_AUTH_LOGIN_UNSUPPORTED, "提供する方式: なし。"},
    {"550 5.7.60 Sender not allowed", "mx.test", "465", ERR_REPLY_MAIL_FROM,
     "差出人のアドレスを受け付けませんでした", F::kTo},
    {"550 5.1.1 No such user", "mx.test", "465", ERR_REPLY_RCPT_TO,
     "E-Mailの欄のアドレスを宛先として", F::kEMail},
    {"554 5.7.1 No mail", "mx.test", "465", ERR_MESSAGE_BODY, "テストメールを受け付けませんでした"},
    {"554 no", "mx.test", "465", ERR_REPLY_DATA, "テストメールを受け付けませんでした"},
    // A code without a sentence: its number and English text.
    {"", "mx.test", "465", ERR_FILE_NOT_FOUND, "通信のテストに失敗しました（404: "},
};

TestMailResult ResultOf(const Case& c) {
    TestMailResult result;
    result.code = c.code;
    result.lastReply = c.reply;
    result.startTlsAfterPlainGreeting = c.afterRetry;
    result.mechanisms = c.mechanisms;
    result.tls = c.tls;
    return result;
}

TypedServer TypedOf(const Case& c) {
    return {c.host, c.port};
}

void ExpectAdvice(const Case& c) {
    SCOPED_TRACE(std::string(c.host) + " " + std::to_string(c.code) + " " + c.reply);
    const FailureAdvice advice = AdviseOnTestFailure(ResultOf(c), TypedOf(c));
    EXPECT_TRUE(advice.settingsAtFault);
    EXPECT_EQ(advice.field, c.field);
    EXPECT_EQ(advice.offerImplicitTlsPort, c.offer);
    EXPECT_NE(advice.reason.find(c.phrase), std::string::npos) << advice.reason;
    // The reply still follows, on one line.
    const std::string said = ReplyForPerson(c.reply);
    if (!said.empty()) {
        EXPECT_TRUE(advice.reason.ends_with("\nサーバーの応答: " + said)) << advice.reason;
    }
}

}  // namespace

TEST(ProviderAdvice, EachRowTakesItsProvidersRepliesAndNoOthers) {
    std::set<const ProviderAdviceRow*> used;
    for (const Case& c : kProviderCases) {
        ExpectAdvice(c);
        used.insert(FindProviderAdvice(ResultOf(c), TypedOf(c)));
    }
    used.erase(nullptr);
    EXPECT_EQ(used.size(), ProviderAdviceRows().size());  // none dead behind an earlier one
    for (const Case& c : kOtherCases) {
        ExpectAdvice(c);
        EXPECT_EQ(FindProviderAdvice(ResultOf(c), TypedOf(c)), nullptr) << c.reply;
    }
}

TEST(FailureAdvice, EachCodeBranchSaysWhatFailedAndWhichFieldToChange) {
    for (const Case& c : kCodeCases) {
        ExpectAdvice(c);
        EXPECT_EQ(FindProviderAdvice(ResultOf(c), TypedOf(c)), nullptr) << c.reply;
    }
    // The default branch gives the client's own text for the code.
    TestMailResult unknown;
    unknown.code = ERR_FILE_NOT_FOUND;
    EXPECT_NE(AdviseOnTestFailure(unknown, {}).reason.find(ECSmtp(ERR_FILE_NOT_FOUND).Describe()),
              std::string::npos);
}

TEST(ProviderAdvice, ACancelIsNoProvidersFaultEvenWithTheirReply) {
    const Case cancelled{"454 4.7.0 Too many login attempts", "", "", ERR_CANCELLED, ""};
    const FailureAdvice advice = AdviseOnTestFailure(ResultOf(cancelled), TypedOf(cancelled));
    EXPECT_FALSE(advice.settingsAtFault);
    EXPECT_EQ(advice.reason, kTestCancelledMessage);
}

TEST(ProviderAdvice, EnhancedStatusCodeIsReadFromTheFirstLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"421 4.7.0", "4.7.0"},
        {"535 Authentication failed", ""},
        {"535 3.7.1 no such class", ""},
        {"535 5.7.1x not digits", ""},
        {"535\r\n535 5.7.8 on the second line", ""},
    };
    for (const auto& [reply, code] : cases) {
        EXPECT_EQ(EnhancedStatusCode(reply), code) << reply;
    }
}
