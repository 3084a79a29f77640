// The providers' advice table without a server: each provider's real reply, from its host,
// gets its row's field, offer and sentence; the others keep the advice by code.
#include "setup/failure_advice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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

TestFailureFacts FactsOf(const Case& c) {
    TestFailureFacts facts;
    facts.code = c.code;
    facts.lastReply = c.reply;
    facts.host = c.host;
    facts.portText = c.port;
    facts.startTlsAfterPlainGreeting = c.afterRetry;
    return facts;
}

void ExpectAdvice(const Case& c) {
    SCOPED_TRACE(std::string(c.host) + " " + c.reply);
    const FailureAdvice advice = AdviseOnTestFailure(FactsOf(c));
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
        used.insert(FindProviderAdvice(FactsOf(c)));
    }
    used.erase(nullptr);
    EXPECT_EQ(used.size(), ProviderAdviceRows().size());  // none dead behind an earlier one
    for (const Case& c : kOtherCases) {
        ExpectAdvice(c);
        EXPECT_EQ(FindProviderAdvice(FactsOf(c)), nullptr) << c.reply;
    }
}

TEST(ProviderAdvice, ACancelIsNoProvidersFaultEvenWithTheirReply) {
    const Case cancelled{"454 4.7.0 Too many login attempts", "", "", ERR_CANCELLED, ""};
    const FailureAdvice advice = AdviseOnTestFailure(FactsOf(cancelled));
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
