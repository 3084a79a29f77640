// The field values and the source line for a server found from an address.
#include "setup/address_fill_texts.h"

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString Host(const std::string& host) {
    return QString::fromStdString(host);
}

}  // namespace

FilledServers FilledFrom(const ServerCandidate& candidate, const QString& address) {
    const QString whole = address.trimmed();
    FilledServers filled;
    filled.smtpServer = Host(candidate.smtpHost);
    filled.smtpPortNo = QString::number(candidate.smtpPort);
    filled.ssl = candidate.smtpKind == SmtpTransportKind::kTls;
    filled.auth = candidate.smtpKind == SmtpTransportKind::kStartTls;
    const QString localPart = whole.left(whole.lastIndexOf(QLatin1Char('@')));
    switch (candidate.account) {
        case AccountForm::kWholeAddress: filled.account = whole; break;
        case AccountForm::kLocalPart: filled.account = localPart; break;
        case AccountForm::kLocalPartDotDomain:
            filled.account = localPart + QLatin1Char('.') + DomainOf(whole);
            break;
    }
    if (!candidate.popHost.empty() && candidate.popPort != 0) {
        filled.popServer = Host(candidate.popHost);
        filled.popPortNo = QString::number(candidate.popPort);
    }
    return filled;
}

QString DomainOf(const QString& address) {
    const QString whole = address.trimmed();
    const qsizetype at = whole.lastIndexOf(QLatin1Char('@'));
    return at < 0 ? QString() : whole.mid(at + 1).trimmed().toLower();
}

QString SearchingLine(const QString& domain) {
    return Utf8(kLineSearching).arg(domain);
}

QString CandidateLine(const ServerCandidate& candidate) {
    const QString provider = Host(candidate.providerName);
    if (candidate.oauthOnly) {
        return Utf8(kLineOauthOnly).arg(provider);
    }
    if (candidate.outsideDomain) {
        return Utf8(kLineOutsideDomain).arg(Host(candidate.smtpHost));
    }
    switch (candidate.source) {
        case DiscoverySource::kProviderTable: return Utf8(kLineFromTable).arg(provider);
        case DiscoverySource::kSrv: return Utf8(kLineFromSrv).arg(Host(candidate.smtpHost));
        case DiscoverySource::kMx: return Utf8(kLineFromMx).arg(Host(candidate.foundVia), provider);
        case DiscoverySource::kProbe:
            return Utf8(kLineFromProbe).arg(Host(candidate.smtpHost)).arg(candidate.smtpPort);
    }
    return {};
}

QString OutcomeLine(DiscoveryOutcome outcome, const QString& domain) {
    switch (outcome) {
        case DiscoveryOutcome::kNothingFound: return Utf8(kLineNothingFound);
        case DiscoveryOutcome::kTimedOut: return Utf8(kLineTimedOut);
        case DiscoveryOutcome::kBadAddress: return Utf8(kLineBadDomain).arg(domain);
        case DiscoveryOutcome::kFound:
        case DiscoveryOutcome::kCancelled: break;
    }
    return {};
}
