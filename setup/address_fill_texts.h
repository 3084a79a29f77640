// What a server found for the user's address puts into the form: the field
// values, and the line under the fields that says where they came from.
// Pure functions of the candidate and the address, apart from the widgets.
#pragma once

#include <QString>

#include "discovery/server_discovery.h"

// The line's texts, UTF-8, one line each; %1 and %2 are filled in as their
// function says. Each starts with "E-Mail" so that it reads as being about
// that field, though it sits under the fields' column.
inline constexpr const char* kLineSearching = "E-Mail: %1 のサーバーを探しています…";
inline constexpr const char* kLineFromTable =
    "E-Mail: %1 の設定を入れました（プロバイダー一覧より）";
inline constexpr const char* kLineFromSrv = "E-Mail: ドメインのDNS (SRV) が示す %1 を入れました";
inline constexpr const char* kLineFromMx = "E-Mail: MX %1 は%2のサーバーです。%2の設定を入れました";
inline constexpr const char* kLineFromProbe = "E-Mail: %1 のポート%2が応答したので入れました";
inline constexpr const char* kLineNothingFound =
    "E-Mail: サーバーが見つかりません。サーバー欄は手で入力してください";
inline constexpr const char* kLineTimedOut =
    "E-Mail: 3秒で見つからず探すのをやめました。サーバー欄は手で入力してください";
inline constexpr const char* kLineBadDomain = "E-Mail: 「%1」はドメイン名に使えない文字を含みます";
inline constexpr const char* kLineOauthOnly =
    "E-Mail: %1は未対応のWebサインインのみ。パスワードかアプリパスワードが使えるまでテストは失敗します";
inline constexpr const char* kLineOutsideDomain =
    "E-Mail: %1 はドメイン外のサーバーです。パスワードはそこへ送られます";

// What the candidate fills in. popServer and popPortNo are empty when the
// candidate knows no POP server.
struct FilledServers {
    QString smtpServer;
    QString smtpPortNo;
    bool ssl = false;   // TLS from the first byte
    bool auth = false;  // STARTTLS; neither box for plain SMTP
    QString account;    // as the candidate's AccountForm says
    QString popServer;
    QString popPortNo;
};

// The values for `address` (as typed; blanks around it are dropped) from
// `candidate`. Host names come as the candidate has them (ASCII).
FilledServers FilledFrom(const ServerCandidate& candidate, const QString& address);

// The domain the line names for `address`: what follows its last "@",
// without blanks around it, lower-cased; empty when there is none.
QString DomainOf(const QString& address);

// The line while `domain` is looked up.
QString SearchingLine(const QString& domain);

// The line for the candidate that filled the fields. A provider that signs
// in only through OAuth2 and a host outside the user's domain are told
// before where the values came from: both are what the user must know
// before pressing the register button.
QString CandidateLine(const ServerCandidate& candidate);

// The line for a lookup that ended without a candidate (`domain` for a bad
// one); empty for kFound and kCancelled, which say nothing new.
QString OutcomeLine(DiscoveryOutcome outcome, const QString& domain);
