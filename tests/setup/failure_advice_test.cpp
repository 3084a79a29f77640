// The providers' advice table without any server: each provider's real
// reply, from the host it comes from, gets its row's field, offer and
// sentence; the replies it must not catch keep the advice by code.
#include "setup/failure_advice.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "setup/provider_advice.h"
#include "smtp/smtp_error.h"

namespace {

struct Case {
    const char* name;
    const char* reply;
    const char* host;
    const char* port;
    std::int32_t code;
    bool afterRetry;
    AdviceField field;
    bool offer;
    const char* phrase;  // part of the advice (UTF-8)
};

using F = AdviceField;
constexpr const char* kGoogleAppPassword = "https://myaccount.google.com/apppasswords";
constexpr const char* kMicrosoft = "Wakebellはこれに対応していません。Microsoft 365";
constexpr const char* kAppPassword = "アプリパスワードを作成し、Passwordの欄";
constexpr const char* kAccountOrPassword = "AccountまたはPasswordを受け付けませんでした";
constexpr const char* kSendAs = "通常はアカウント自身のアドレス";

// Each row of the table, by the replies that providers really give.
const Case kProviderCases[] = {
    {"Gmail, 2-Step Verification",
     "534-5.7.9 Application-specific password required. Learn more at\r\n"
     "534 5.7.9  https://support.google.com/mail/?p=InvalidSecondFactor - gsmtp",
     "smtp.gmail.com", "465", ERR_BAD_LOGIN, false, F::kPassword, false, kGoogleAppPassword},
    {"Outlook.com, basic authentication disabled",
     "535 5.7.139 Authentication unsuccessful, basic authentication is disabled. "
     "[TYCP286CA0061.JPNP286.PROD.OUTLOOK.COM]",
     "smtp-mail.outlook.com", "587", ERR_BAD_LOGIN, false, F::kNone, false, kMicrosoft},
    {"Microsoft 365 tenant",
     "535 5.7.139 Authentication unsuccessful, SmtpClientAuthentication is disabled for the "
     "Tenant. Visit https://aka.ms/smtp_auth_disabled for more information.",
     "smtp.office365.com", "587", ERR_BAD_LOGIN, false, F::kNone, false, kMicrosoft},
    {"Client Submission", "550 5.7.30 Basic authentication is not supported for Client Submission.",
     "mail.example.co.jp", "587", ERR_BAD_LOGIN, false, F::kNone, false, kMicrosoft},
    {"5.7.3 from office365.com, typed in capitals with a final dot",
     "535 5.7.3 Authentication unsuccessful [SG2PR01CA0172.apcprd01.prod.exchangelabs.com]",
     "SMTP.Office365.com.", "587", ERR_BAD_LOGIN, false, F::kNone, false, kMicrosoft},
    {"too many, at the AUTH line",
     "454 4.7.0 Too many login attempts, please try again later. "
     "d9443c01a7336-1f3a1b  - gsmtp",
     "smtp.gmail.com", "465", ERR_REPLY_AUTH_LOGIN, false, F::kNone, false, "しばらく待ってから"},
    {"try again later, at MAIL FROM",
     "451 4.7.0 Temporary server error. Please try again later. PRX4", "smtp.example.test", "465",
     ERR_REPLY_MAIL_FROM, false, F::kNone, false, "しばらく待ってから"},
    // 5.7.0 and "Too many" too: the Yahoo row, not the one for 4.7.0.
    {"Yahoo", "535 5.7.0 (#AUTH005) Too many bad auth attempts.", "smtp.mail.yahoo.com", "465",
     ERR_BAD_LOGIN, false, F::kPassword, false, kAppPassword},
    {"iCloud", "535 5.7.8 Authentication failed", "smtp.mail.me.com", "587", ERR_BAD_LOGIN, false,
     F::kPassword, false, kAppPassword},
    {"SendAsDenied after the data",
     "554 5.2.252 SendAsDenied; notify@example.test not allowed to send as "
     "notify@example.test; STOREDRV.Submission.Exception:SendAsDeniedException."
     "MapiExceptionSendAsDenied",
     "smtp.office365.com", "587", ERR_MESSAGE_BODY, false, F::kTo, false, kSendAs},
    {"port 25 refused", "", "smtp.example.ne.jp", "25", ERR_CONNECTION_REFUSED, false,
     F::kSmtpPortNo, true, "OP25B"},
    {"port 25 without an answer", "", "smtp.example.ne.jp", " 25", ERR_CONNECT_TIMEOUT, false,
     F::kSmtpPortNo, true, "OP25B"},
    {"no STARTTLS after the plain greeting", "250-smtp.example.test\r\n250 AUTH PLAIN LOGIN",
     "smtp.example.test", "587", ERR_STARTTLS_UNSUPPORTED, true, F::kSmtpPortNo, true,
     "STARTTLSにも対応していない"},
    // Testing again on the port just tested fixes nothing.
    {"no STARTTLS on the implicit-TLS port", "250 OK", "mail.example.test", "465",
     ERR_STARTTLS_UNSUPPORTED, true, F::kSmtpPortNo, false, "STARTTLSにも対応していない"},
};

// What the table must leave to the advice by code.
const Case kOtherCases[] = {
    {"Gmail's plain wrong password",
     "535-5.7.8 Username and Password not accepted. For more information, go to\r\n"
     "535 5.7.8  https://support.google.com/mail/?p=BadCredentials 5b1f17b1804b1-4  - gsmtp",
     "smtp.gmail.com", "465", ERR_BAD_LOGIN, false, F::kNone, false, kAccountOrPassword},
    {"535 from an unknown host", "535 5.7.8 Authentication failed", "mail.example.test", "465",
     ERR_BAD_LOGIN, false, F::kNone, false, kAccountOrPassword},
    {"a name that only ends like Yahoo's", "535 5.7.8 Authentication failed",
     "mysmtp.mail.yahoo.com", "465", ERR_BAD_LOGIN, false, F::kNone, false, kAccountOrPassword},
    {"5.7.3 elsewhere", "535 5.7.3 Authentication unsuccessful", "mail.example.test", "465",
     ERR_BAD_LOGIN, false, F::kNone, false, kAccountOrPassword},
    {"4.7.0 that is no limit", "454 4.7.0 TLS not available due to local problem",
     "mail.example.test", "587", ERR_REPLY_STARTTLS, false, F::kSmtpPortNo, false,
     "暗号化（STARTTLS）を受け付けませんでした"},
    {"an address that is not ASCII", "", "mail.example.test", "465", ERR_BAD_ADDRESS_CHARACTER,
     false, F::kNone, false, "全角文字"},
    {"port 2525 refused", "", "mail.example.test", "2525", ERR_CONNECTION_REFUSED, false,
     F::kSmtpPortNo, false, "ポート2525番は接続を受け付けていません"},
    {"416 without the retry", "250 AUTH PLAIN", "mail.example.test", "587",
     ERR_STARTTLS_UNSUPPORTED, false, F::kNone, false, "共通のログイン方式がありません"},
    {"plain greeting", "", "mail.example.test", "587", ERR_TLS_PLAIN_SERVER, false, F::kSmtpPortNo,
     true, "最初からSSL/TLSで接続するポートは通常465番です。"},
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
    SCOPED_TRACE(c.name);
    const FailureAdvice advice = AdviseOnTestFailure(FactsOf(c));
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

TEST(ProviderAdvice, EachProvidersReplyGetsItsRow) {
    std::set<const ProviderAdviceRow*> used;
    for (const Case& c : kProviderCases) {
        ExpectAdvice(c);
        used.insert(FindProviderAdvice(FactsOf(c)));
    }
    // No row is dead behind an earlier one.
    used.erase(nullptr);
    EXPECT_EQ(used.size(), ProviderAdviceRows().size());
}

TEST(ProviderAdvice, OtherRepliesKeepTheAdviceByCode) {
    for (const Case& c : kOtherCases) {
        ExpectAdvice(c);
        EXPECT_EQ(FindProviderAdvice(FactsOf(c)), nullptr) << c.name;
    }
}

TEST(ProviderAdvice, ACancelIsNoProvidersFault) {
    TestFailureFacts facts;
    facts.code = ERR_CANCELLED;
    facts.lastReply = "454 4.7.0 Too many login attempts, please try again later.";
    const FailureAdvice advice = AdviseOnTestFailure(facts);
    EXPECT_FALSE(advice.settingsAtFault);
    EXPECT_EQ(advice.reason, kTestCancelledMessage);
}

TEST(ProviderAdvice, EnhancedStatusCodeIsReadFromTheFirstLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"534-5.7.9 Application-specific\r\n534 5.7.9 x", "5.7.9"},
        {"535 5.7.139 Authentication unsuccessful", "5.7.139"},
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
