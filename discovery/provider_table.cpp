// Parses the provider table's text into rows and answers lookups by domain
// and by SMTP host.
#include "discovery/provider_table.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr std::array<std::string_view, 10> kColumns = {
    "domain",   "provider",  "smtp_host", "smtp_port", "smtp_socket",
    "username", "smtp_auth", "pop_host",  "pop_port",  "pop_socket"};

// Splits line at every tab.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::optional<std::uint16_t> Port(std::string_view text) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<SmtpTransportKind> Kind(std::string_view text) {
    if (text == "SSL") {
        return SmtpTransportKind::kTls;
    }
    if (text == "STARTTLS") {
        return SmtpTransportKind::kStartTls;
    }
    if (text == "plain") {
        return SmtpTransportKind::kPlain;
    }
    return std::nullopt;
}

std::optional<AccountForm> Account(std::string_view text) {
    if (text.empty() || text == "%EMAILADDRESS%") {
        return AccountForm::kWholeAddress;
    }
    if (text == "%EMAILLOCALPART%") {
        return AccountForm::kLocalPart;
    }
    if (text == "%EMAILLOCALPART%.%EMAILDOMAIN%") {
        return AccountForm::kLocalPartDotDomain;
    }
    return std::nullopt;
}

// A row from its ten fields, or the reason it is refused.
std::optional<ProviderRow> Row(const std::vector<std::string_view>& f, std::string& why) {
    ProviderRow row;
    row.domain = AsciiLower(f[0]);
    row.provider = std::string(f[1]);
    row.smtpHost = AsciiLower(f[2]);
    if (row.domain.empty() || row.provider.empty() || row.smtpHost.empty()) {
        why = "domain, provider and smtp_host must not be empty";
        return std::nullopt;
    }
    const auto port = Port(f[3]);
    const auto kind = Kind(f[4]);
    const auto account = Account(f[5]);
    if (!port) {
        why = "smtp_port \"" + std::string(f[3]) + "\" is not a port number";
        return std::nullopt;
    }
    if (!kind) {
        why = "smtp_socket \"" + std::string(f[4]) + "\" is not SSL, STARTTLS or plain";
        return std::nullopt;
    }
    if (!account) {
        why = "username \"" + std::string(f[5]) + "\" is not a known form";
        return std::nullopt;
    }
    row.smtpPort = *port;
    row.smtpKind = *kind;
    row.account = *account;
    row.oauthOnly = f[6] == "OAuth2";
    if (!f[7].empty() || !f[8].empty() || !f[9].empty()) {
        const auto popPort = Port(f[8]);
        if (f[7].empty() || !popPort || !Kind(f[9])) {
            why = "pop_host, pop_port and pop_socket must be all empty or all valid";
            return std::nullopt;
        }
        row.popHost = AsciiLower(f[7]);
        row.popPort = *popPort;
    }
    return row;
}

int KindRank(SmtpTransportKind kind) {
    switch (kind) {
        case SmtpTransportKind::kTls: return 0;
        case SmtpTransportKind::kStartTls: return 1;
        case SmtpTransportKind::kPlain: return 2;
    }
    return 3;
}

}  // namespace

std::string AsciiLower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::optional<ProviderTable> ProviderTable::Parse(std::string_view text, std::string& error) {
    ProviderTable table;
    bool headerSeen = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::vector<std::string_view> fields = Fields(line);
        if (fields.size() != kColumns.size()) {
            error = "line " + std::to_string(lineNumber) + ": " + std::to_string(fields.size()) +
                    " fields where " + std::to_string(kColumns.size()) + " are expected";
            return std::nullopt;
        }
        if (!headerSeen) {
            if (!std::equal(fields.begin(), fields.end(), kColumns.begin())) {
                error = "line " + std::to_string(lineNumber) +
                        ": the header does not name the expected columns";
                return std::nullopt;
            }
            headerSeen = true;
            continue;
        }
        std::string why;
        std::optional<ProviderRow> row = Row(fields, why);
        if (!row) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        }
        table.m_smtpHosts.insert(row->smtpHost);
        table.m_byDomain[row->domain].push_back(table.m_rows.size());
        table.m_rows.push_back(std::move(*row));
    }
    if (!headerSeen) {
        error = "no header line";
        return std::nullopt;
    }
    return table;
}

std::vector<const ProviderRow*> ProviderTable::RowsFor(std::string_view domain) const {
    std::vector<const ProviderRow*> rows;
    const auto it = m_byDomain.find(AsciiLower(domain));
    if (it != m_byDomain.end()) {
        for (const std::size_t index : it->second) {
            rows.push_back(&m_rows[index]);
        }
    }
    return rows;
}

const ProviderRow* ProviderTable::PreferredRow(std::string_view domain) const {
    const std::vector<const ProviderRow*> rows = RowsFor(domain);
    // stable: the first row of the best kind, in file order.
    const auto best = std::min_element(rows.begin(), rows.end(), [](const auto* a, const auto* b) {
        return KindRank(a->smtpKind) < KindRank(b->smtpKind);
    });
    return best == rows.end() ? nullptr : *best;
}

bool ProviderTable::IsSmtpHost(std::string_view host) const {
    return m_smtpHosts.count(AsciiLower(host)) != 0;
}

const ProviderRow* ProviderTable::RowForParentOf(std::string_view host) const {
    std::string name = AsciiLower(host);
    while (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    for (std::size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.')) {
        name.erase(0, dot + 1);
        if (name.find('.') == std::string::npos) {
            return nullptr;  // one label left: a top-level domain is no provider
        }
        if (const ProviderRow* row = PreferredRow(name)) {
            return row;
        }
    }
    return nullptr;
}

namespace {

struct Shipped {
    ProviderTable table;
    std::string error;
};

const Shipped& ParsedShipped() {
    // A function's static: made once, by the first caller, thread-safe.
    static const Shipped shipped = [] {
        Shipped parsed;
        std::optional<ProviderTable> table =
            ProviderTable::Parse(ShippedProviderTableText(), parsed.error);
        if (table) {
            parsed.table = std::move(*table);
        }
        return parsed;
    }();
    return shipped;
}

}  // namespace

const ProviderTable& ShippedProviderTable() {
    return ParsedShipped().table;
}

const std::string& ShippedProviderTableError() {
    return ParsedShipped().error;
}
