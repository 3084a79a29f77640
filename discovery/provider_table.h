// The provider table: which submission and POP servers a mail domain's
// provider publishes, parsed from the tab-separated file compiled into the
// program (discovery/data/mail-providers.tsv).
//
// The file: lines starting with "#" are notes; the first other line is the
// header naming the ten columns below; every further line is one row of ten
// tab-separated fields, in the provider's order of preference:
//   domain provider smtp_host smtp_port smtp_socket username smtp_auth
//   pop_host pop_port pop_socket
// smtp_socket is SSL, STARTTLS or plain; username is %EMAILADDRESS%,
// %EMAILLOCALPART%, %EMAILLOCALPART%.%EMAILDOMAIN% or empty (the whole
// address); the three POP fields are all empty or all set.
//
// Free of Qt; a parsed table is immutable and may be read from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "discovery/server_discovery.h"

struct ProviderRow {
    std::string domain;  // lower case
    std::string provider;
    std::string smtpHost;  // lower case
    std::uint16_t smtpPort = 0;
    SmtpTransportKind smtpKind = SmtpTransportKind::kTls;
    AccountForm account = AccountForm::kWholeAddress;
    // smtp_auth is OAuth2 alone: no password is taken.
    bool oauthOnly = false;
    std::string popHost;        // empty when the row names none
    std::uint16_t popPort = 0;  // 0 when the row names none
};

class ProviderTable {
  public:
    // Parses text in the file's form. On a malformed line returns nullopt
    // and sets error to "line N: what is wrong" (N counts from 1, notes
    // included). Never throws but std::bad_alloc.
    static std::optional<ProviderTable> Parse(std::string_view text, std::string& error);

    // The rows for domain (compared without case), in file order; empty
    // when the table has none.
    std::vector<const ProviderRow*> RowsFor(std::string_view domain) const;

    // The row to use for domain: TLS from the first byte before STARTTLS
    // before plain (RFC 8314, section 3), file order among rows of one
    // kind; null when the table has no row for domain.
    const ProviderRow* PreferredRow(std::string_view domain) const;

    // Whether host (without case) is the SMTP server of some row.
    bool IsSmtpHost(std::string_view host) const;

    // The preferred row of the first of host's parent domains that the
    // table holds, trying the name above host first and then each shorter
    // suffix down to two labels (aspmx.l.google.com: l.google.com, then
    // google.com); null when none is held or host has fewer than three
    // labels.
    const ProviderRow* RowForParentOf(std::string_view host) const;

    std::size_t RowCount() const noexcept { return m_rows.size(); }
    std::size_t DomainCount() const noexcept { return m_byDomain.size(); }

  private:
    std::vector<ProviderRow> m_rows;
    std::unordered_map<std::string, std::vector<std::size_t>> m_byDomain;
    std::unordered_set<std::string> m_smtpHosts;
};

// The table compiled into the program, parsed on first use (thread-safe).
// Its file is checked by the tests to parse; were it ever malformed, this
// is an empty table and ShippedProviderTableError() says why.
const ProviderTable& ShippedProviderTable();
const std::string& ShippedProviderTableError();

// The text of discovery/data/mail-providers.tsv, compiled in at build time.
std::string_view ShippedProviderTableText();

// text in lower case (ASCII letters only).
std::string AsciiLower(std::string_view text);
