// The providers' advice rows and their matching of a failed test.
#include "setup/provider_advice.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>
#include <string>

#include "mailcheck/check_mail_content.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_error.h"

namespace {

// Every code a refused login ends with besides a refused AUTH line (the
// rows say orMechanismRefusal for that): a refused DIGEST-MD5 response, or
// the last reply not 235.
constexpr std::array<std::int32_t, 2> kLoginCodes{ERR_REPLY_DIGEST_MD5, ERR_BAD_LOGIN};
// A sender refused at MAIL FROM, or the mail at the end of its data.
constexpr std::array<std::int32_t, 2> kSenderCodes{ERR_MESSAGE_BODY, ERR_REPLY_MAIL_FROM};
// Nothing took the connection, or nothing answered on it.
constexpr std::array<std::int32_t, 3> kNoConnectionCodes{ERR_CONNECTION_REFUSED, ERR_NOT_RESPONDING,
                                                         ERR_CONNECT_TIMEOUT};
constexpr std::array<std::int32_t, 1> kNoStartTlsCodes{ERR_STARTTLS_UNSUPPORTED};

constexpr std::string_view kAppPasswordForGoogle =
    "Googleアカウントで2段階認証プロセスが有効になっているため、"
    "通常のパスワードではログインできません。"
    "https://myaccount.google.com/apppasswords でアプリ パスワードを作成し、"
    "Passwordの欄に入力してください。";
constexpr std::string_view kNoPasswordLoginAtMicrosoft =
    "Microsoftのサーバーは、パスワードによるログイン（基本認証）を受け付けていません。"
    "Outlook.com（Hotmail）の個人用アカウントはサインイン（OAuth2）でしかログインできず、"
    "Wakebellはこれに対応していません。"
    "Microsoft 365のアカウントでは、管理者がこのメールボックスにSMTP AUTH（認証付きSMTP）を"
    "許可すると使えるようになります。";
constexpr std::string_view kAppPasswordOnly =
    "このサービスには、アカウントのセキュリティ設定で作成したアプリパスワードでしか"
    "ログインできません。"
    "セキュリティ設定でアプリパスワードを作成し、Passwordの欄に入力してください。";
constexpr std::string_view kTooManyAttempts =
    "ログインの試行が多すぎるため、サーバーが一時的に受け付けを止めています。"
    "しばらく待ってから、もう一度テストしてください。";
constexpr std::string_view kSendAsDenied =
    "このアカウントは、Toの欄のアドレスを差出人として送信することを許可されていません。"
    "Toの欄のアドレスは差出人として送られるため、このアカウントで送信できるアドレス"
    "（通常はアカウント自身のアドレス）にしてください。";
constexpr std::string_view kPort25Blocked =
    "ポート25番は、多くのプロバイダーやネットワークでメールソフトからの接続がふさがれています"
    "（日本のプロバイダーはOP25Bとしてすべてふさいでいます）。"
    "SMTP-PortNoを465（または587）にしてください。";
constexpr std::string_view kNoTlsAtAll =
    "このポートは暗号化なしのSMTPで、STARTTLSにも対応していないため、安全に接続できません。"
    "最初からSSL/TLSで接続するポート（通常は465番）にしてください。";

// Replies as the providers send them; the first row that matches wins.
constexpr std::array kRows{
    // Gmail with 2-Step Verification: "534-5.7.9 Application-specific
    // password required. Learn more at ...".
    ProviderAdviceRow{.enhancedCode = "5.7.9",
                      .replyText = "application-specific password",
                      .codes = kLoginCodes,
                      .orMechanismRefusal = true,
                      .sentence = kAppPasswordForGoogle,
                      .field = AdviceField::kPassword},
    // Exchange Online with password login switched off, for the account
    // or the whole tenant.
    ProviderAdviceRow{.enhancedCode = "5.7.139",
                      .replyText = "basic authentication is disabled",
                      .sentence = kNoPasswordLoginAtMicrosoft},
    ProviderAdviceRow{.replyText = "SmtpClientAuthentication is disabled",
                      .sentence = kNoPasswordLoginAtMicrosoft},
    ProviderAdviceRow{.enhancedCode = "5.7.30",
                      .replyText = "basic authentication is not supported",
                      .sentence = kNoPasswordLoginAtMicrosoft},
    ProviderAdviceRow{.enhancedCode = "5.7.3",
                      .replyText = "authentication unsuccessful",
                      .hosts = "outlook.com office365.com",
                      .codes = kLoginCodes,
                      .orMechanismRefusal = true,
                      .sentence = kNoPasswordLoginAtMicrosoft},
    // "454 4.7.0 Too many login attempts, please try again later."
    ProviderAdviceRow{
        .enhancedCode = "4.7.0", .replyText = "too many", .sentence = kTooManyAttempts},
    ProviderAdviceRow{
        .enhancedCode = "4.7.0", .replyText = "try again later", .sentence = kTooManyAttempts},
    // Yahoo, Yahoo! JAPAN, AOL and iCloud refuse the account's own password
    // with a 5.7.x of their own ("535 5.7.0 (#AUTH005) Too many bad auth
    // attempts.", "535 5.7.8 Authentication failed").
    ProviderAdviceRow{
        .enhancedCode = "5.7.*",
        .hosts = "smtp.mail.yahoo.com smtp.mail.yahoo.co.jp smtp.aol.com smtp.mail.me.com",
        .codes = kLoginCodes,
        .orMechanismRefusal = true,
        .sentence = kAppPasswordOnly,
        .field = AdviceField::kPassword},
    // "554 5.2.252 SendAsDenied; ... not allowed to send as ...".
    ProviderAdviceRow{.enhancedCode = "5.2.252",
                      .replyText = "SendAsDenied",
                      .codes = kSenderCodes,
                      .sentence = kSendAsDenied,
                      .field = AdviceField::kTo},
    ProviderAdviceRow{.codes = kNoConnectionCodes,
                      .port = 25,
                      .sentence = kPort25Blocked,
                      .field = AdviceField::kSmtpPortNo,
                      .offerImplicitTlsPort = true},
    ProviderAdviceRow{.codes = kNoStartTlsCodes,
                      .afterStartTlsRetry = true,
                      .sentence = kNoTlsAtAll,
                      .field = AdviceField::kSmtpPortNo,
                      .offerImplicitTlsPort = true},
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The whole of text against pattern, '*' matching any run, ASCII letters
// without case. A '*' that fails is retried one character further on.
bool GlobMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::optional<std::size_t> star;  // the last '*' seen in pattern
    std::size_t resume = 0;           // where text goes on after it
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && Lower(pattern[p]) == Lower(text[t])) {
            ++p;
            ++t;
        } else if (star) {
            p = *star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

bool HostMatches(std::string_view hosts, std::string_view typed) {
    if (hosts.empty()) {
        return true;
    }
    std::string host;
    std::transform(typed.begin(), typed.end(), std::back_inserter(host), Lower);
    if (host.ends_with('.')) {
        host.pop_back();
    }
    while (!hosts.empty()) {
        const std::size_t blank = hosts.find(' ');
        const std::string_view name = hosts.substr(0, blank);
        hosts.remove_prefix(blank == std::string_view::npos ? hosts.size() : blank + 1);
        if (!name.empty() && (host == name || (host.ends_with(name) &&
                                               host[host.size() - name.size() - 1] == '.'))) {
            return true;
        }
    }
    return false;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool RowMatches(const ProviderAdviceRow& row, const TestMailResult& result,
                const TypedServer& typed) {
    const std::span<const std::int32_t> codes = row.codes;
    const bool codeHolds = codes.empty() ||
                           std::find(codes.begin(), codes.end(), result.code) != codes.end() ||
                           (row.orMechanismRefusal && IsMechanismRefusal(result.code));
    return codeHolds && (row.port == 0 || PortFromText(typed.portText) == row.port) &&
           (!row.afterStartTlsRetry || result.startTlsAfterPlainGreeting) &&
           GlobMatches(row.enhancedCode.empty() ? "*" : row.enhancedCode,
                       EnhancedStatusCode(result.lastReply)) &&
           GlobMatches("*" + std::string(row.replyText) + "*", result.lastReply) &&
           HostMatches(row.hosts, typed.host);
}

}  // namespace

std::span<const ProviderAdviceRow> ProviderAdviceRows() {
    return kRows;
}

const ProviderAdviceRow* FindProviderAdvice(const TestMailResult& result,
                                            const TypedServer& typed) {
    const auto found = std::find_if(kRows.begin(), kRows.end(), [&](const auto& row) {
        return RowMatches(row, result, typed);
    });
    return found == kRows.end() ? nullptr : &*found;
}

std::string_view EnhancedStatusCode(std::string_view reply) {
    // RFC 3463, 2: class "." subject "." detail, the class 2, 4 or 5 and the
    // others of one to three digits; RFC 2034 puts it first in the text.
    reply = reply.substr(0, reply.find_first_of("\r\n"));
    if (reply.size() < 4 || !IsDigit(reply[0]) || !IsDigit(reply[1]) || !IsDigit(reply[2]) ||
        (reply[3] != ' ' && reply[3] != '-')) {
        return {};
    }
    reply.remove_prefix(4);
    const std::string_view code = reply.substr(0, reply.find(' '));
    std::size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        std::size_t digits = 0;
        while (at + digits < code.size() && IsDigit(code[at + digits])) {
            ++digits;
        }
        const bool rightClass =
            part != 0 || (digits == 1 && (code[0] == '2' || code[0] == '4' || code[0] == '5'));
        if (digits == 0 || digits > 3 || !rightClass) {
            return {};
        }
        at += digits;
        if (part < 2) {
            if (at >= code.size() || code[at] != '.') {
                return {};
            }
            ++at;
        }
    }
    return at == code.size() ? code : std::string_view();
}
