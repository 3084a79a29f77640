// Chooses the failed test's advice from its code, reply and TLS report.
#include "setup/failure_advice.h"

#include <optional>

#include "mailcheck/check_mail_content.h"
#include "setup/provider_advice.h"
#include "smtp/auth_mechanisms.h"
#include "smtp/smtp_error.h"

namespace {

// The port as the client reads the typed text (" 25x" is 25); the text
// itself when no port can be that number.
std::string PortName(std::string_view portText) {
    const std::optional<std::uint16_t> port = PortFromText(portText);
    return port ? std::to_string(*port) : ReplyForPerson(portText, 20);
}

bool SamePort(std::string_view one, std::string_view other) {
    const std::optional<std::uint16_t> first = PortFromText(one);
    return first && first == PortFromText(other);
}

std::string Quoted(std::string_view text) {
    return "「" + std::string(text) + "」";
}

// "サーバーの応答: 535 5.7.8 ..." when the server said anything.
std::string ServerSaid(const TestMailResult& result) {
    const std::string reply = ReplyForPerson(result.lastReply);
    return reply.empty() ? std::string() : "サーバーの応答: " + reply;
}

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += joined.empty() ? "" : "、";
        joined += ReplyForPerson(name, 100);
    }
    return joined;
}

// The mechanisms the client can log in with, from its own table.
std::string SupportedMechanisms() {
    std::string joined;
    for (const AuthMechanism& mechanism : kAuthMechanisms) {
        joined += joined.empty() ? "" : "、";
        joined += mechanism.name;
    }
    return joined;
}

// No mechanism both sides have: what the server offered and what the
// client can use.
std::string NoCommonMechanism(const TestMailResult& result) {
    return "サーバーとWakebellに共通のログイン方式がありません。サーバーが提供する方式: " +
           (result.mechanisms.empty() ? std::string("なし") : JoinedNames(result.mechanisms)) +
           "。Wakebellが使えるのは" + SupportedMechanisms() + "です。";
}

std::string TlsReason(const TlsReport& tls, const TypedServer& typed) {
    const std::string readme =
        "社内の認証局を使うサーバーでは、READMEの「Trusting an in-house certificate "
        "authority」の手順でその認証局を信頼させてください。";
    switch (tls.problem) {
        case TlsProblem::kUntrustedIssuer:
            return std::string(
                       tls.certificate && tls.certificate->selfSigned
                           ? "サーバーの証明書は自己署名で、このコンピューターが信頼する認証局の発行ではありません。"
                           : "サーバーの証明書を発行した認証局が、このコンピューターでは信頼されていません。") +
                   readme;
        case TlsProblem::kExpired:
            return "サーバーの証明書は有効期限が切れています" +
                   (tls.certificate ? "（" + tls.certificate->notAfter + "まで）" : std::string()) +
                   "。サーバーの管理者に証明書の更新を依頼してください。";
        case TlsProblem::kNotYetValid:
            return "サーバーの証明書はまだ有効になっていません" +
                   (tls.certificate ? "（" + tls.certificate->notBefore + "から）"
                                    : std::string()) +
                   "。このコンピューターの日付と時刻を確かめてください。";
        case TlsProblem::kNameMismatch:
            return "サーバーの証明書は" + Quoted(typed.host) + "ではなく" +
                   (tls.certificate && !tls.certificate->names.empty()
                        ? Quoted(JoinedNames(tls.certificate->names))
                        : std::string("別の名前")) +
                   "に発行されています。SMTP-Serverの欄に証明書の名前を入力してください。";
        case TlsProblem::kProtocolTooOld:
            return "サーバーの暗号化方式が古いため、安全に接続できませんでした（Wakebellが使えるのはTLS "
                   "1.2以降です）。サーバーの管理者に相談してください。";
        case TlsProblem::kPlainText:
        case TlsProblem::kNone:
        case TlsProblem::kOther: break;
    }
    return "サーバーと暗号化した接続（SSL/TLS）を確立できませんでした。SMTP-ServerとSMTP-PortNoの欄を確かめてください。";
}

}  // namespace

std::string ReplyForPerson(std::string_view reply, std::size_t maxBytes) {
    std::string text;
    bool space = false;
    for (const char byte : reply) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '\r' || byte == '\n') {
            space = !text.empty();
            continue;
        }
        if (space) {
            text += ' ';
            space = false;
        }
        text += value < 0x20 || value >= 0x7F ? '?' : byte;
    }
    if (text.size() > maxBytes) {
        text.resize(maxBytes);
        text += "...";
    }
    return text;
}

FailureAdvice AdviseOnTestFailure(const TestMailResult& result, const TypedServer& typed,
                                  std::string_view implicitTlsPort) {
    FailureAdvice advice;
    const std::string said = ServerSaid(result);
    const auto withReply = [&said](std::string sentence) {
        return said.empty() ? sentence : sentence + "\n" + said;
    };
    if (result.code == ERR_CANCELLED) {
        advice.settingsAtFault = false;
        advice.reason = kTestCancelledMessage;
        return advice;
    }
    if (const ProviderAdviceRow* row = FindProviderAdvice(result, typed)) {
        advice.reason = withReply(std::string(row->sentence));
        advice.field = row->field;
        advice.offerImplicitTlsPort =
            row->offerImplicitTlsPort && !SamePort(typed.portText, implicitTlsPort);
        return advice;
    }
    switch (result.code) {
        case ERR_RESOLVE:
            advice.reason = "SMTPサーバー" + Quoted(typed.host) +
                            "が見つかりませんでした。SMTP-Serverの欄を確かめてください。";
            advice.field = AdviceField::kSmtpServer;
            break;
        case ERR_CONNECTION_REFUSED:
            advice.reason = "SMTPサーバー" + Quoted(typed.host) + "のポート" +
                            PortName(typed.portText) +
                            "番は接続を受け付けていません。SMTP-PortNoの欄を確かめてください。";
            advice.field = AdviceField::kSmtpPortNo;
            break;
        case ERR_CONNECT_TIMEOUT:
        case ERR_NOT_RESPONDING:
            advice.reason =
                "SMTPサーバーから時間内に応答がありませんでした。ファイアウォールでポートが"
                "ふさがれているか、SMTP-PortNoが違う可能性があります。";
            advice.field = AdviceField::kSmtpPortNo;
            break;
        case ERR_TLS:
            advice.reason = TlsReason(result.tls, typed);
            if (result.tls.problem == TlsProblem::kNameMismatch) {
                advice.field = AdviceField::kSmtpServer;
            }
            break;
        // Seen only when no STARTTLS attempt followed the plain greeting
        // (one that did ends with its own code), so whether the port offers
        // STARTTLS is not known: the implicit-TLS port is the certain fix.
        case ERR_TLS_PLAIN_SERVER:
            advice.offerImplicitTlsPort = !SamePort(typed.portText, implicitTlsPort);
            advice.field = AdviceField::kSmtpPortNo;
            advice.reason = "ポート" + PortName(typed.portText) +
                            "番は暗号化なしで始まる接続（STARTTLS）用です。"
                            "最初からSSL/TLSで接続するポートは通常" +
                            std::string(kImplicitTlsPort) + "番です。";
            if (!advice.offerImplicitTlsPort) {
                advice.reason +=
                    "このサーバーで使えるポートを、サーバーの管理者に確かめてください。";
            }
            break;
        // RFC 3207 4: a server that refuses STARTTLS with 454 may take it
        // later; the implicit-TLS port does not depend on it.
        case ERR_REPLY_STARTTLS:
            advice.reason = withReply(
                "サーバーが暗号化（STARTTLS）を受け付けませんでした。しばらくしてからもう一度試すか、"
                "最初からSSL/TLSで接続するポート（通常は" +
                std::string(kImplicitTlsPort) + "番）にしてください。");
            advice.field = AdviceField::kSmtpPortNo;
            break;
        // The client speaks no SMTPUTF8: an address must be ASCII without
        // blanks or angle brackets.
        case ERR_BAD_ADDRESS_CHARACTER:
            advice.reason =
                "E-MailかToの欄のアドレスに、メールアドレスに使えない文字（空白、<、>、"
                "全角文字など）があります。半角の英数字と記号で入力してください。";
            break;
        case ERR_SERVER_NOT_READY:
            advice.reason = withReply(
                "SMTPサーバーが今は接続を受け付けていません。しばらくしてからもう一度お試しください。");
            break;
        case ERR_BAD_LOGIN:
        case ERR_REPLY_DIGEST_MD5:
            advice.reason = withReply(
                "サーバーがAccountまたはPasswordを受け付けませんでした。AccountとPasswordの欄を確かめてください。");
            break;
        case ERR_STARTTLS_UNSUPPORTED:
        case ERR_AUTH_LOGIN_UNSUPPORTED:
            advice.reason = withReply(NoCommonMechanism(result));
            break;
        case ERR_REPLY_MAIL_FROM:
            advice.reason = withReply(
                "サーバーが差出人のアドレスを受け付けませんでした。Toの欄のアドレスは差出人として送られるため、"
                "このアカウントで送信できるアドレスにしてください。");
            advice.field = AdviceField::kTo;
            break;
        case ERR_REPLY_RCPT_TO:
            advice.reason = withReply(
                "サーバーがE-Mailの欄のアドレスを宛先として受け付けませんでした。E-Mailの欄を確かめてください。");
            advice.field = AdviceField::kEMail;
            break;
        case ERR_REPLY_DATA:
        case ERR_MESSAGE_BODY:
            advice.reason = withReply("サーバーがテストメールを受け付けませんでした。");
            break;
        default:
            // A refused AUTH line, whichever row of kAuthMechanisms it was.
            advice.reason =
                withReply(IsMechanismRefusal(result.code)
                              ? NoCommonMechanism(result)
                              : "通信のテストに失敗しました（" + std::to_string(result.code) +
                                    ": " + ECSmtp(result.code).Describe() + "）。");
            break;
    }
    return advice;
}

std::string RetryOnImplicitTlsPortQuestion(std::string_view port) {
    return "SMTP-PortNoを" + std::string(port) + "にして、もう一度テストしますか？";
}
