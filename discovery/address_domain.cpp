// Checks an address's domain against the host name rules DNS allows.
#include "discovery/address_domain.h"

#include "discovery/provider_table.h"

namespace {

constexpr std::size_t kMaxName = 253;
constexpr std::size_t kMaxLabel = 63;

bool LetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool ValidLabel(std::string_view label) {
    if (label.empty() || label.size() > kMaxLabel || !LetterOrDigit(label.front()) ||
        !LetterOrDigit(label.back())) {
        return false;
    }
    for (const char c : label) {
        if (!LetterOrDigit(c) && c != '-') {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> AddressDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string domain = AsciiLower(address.substr(at + 1));
    if (!domain.empty() && domain.back() == '.') {
        domain.pop_back();
    }
    if (domain.empty() || domain.size() > kMaxName || domain.find('.') == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = domain;
    for (;;) {
        const std::size_t dot = rest.find('.');
        if (!ValidLabel(rest.substr(0, dot))) {
            return std::nullopt;
        }
        if (dot == std::string_view::npos) {
            return domain;
        }
        rest.remove_prefix(dot + 1);
    }
}

bool IsWithinDomain(std::string_view host, std::string_view domain) {
    if (!host.empty() && host.back() == '.') {
        host.remove_suffix(1);
    }
    if (host.size() == domain.size()) {
        return host == domain;
    }
    return host.size() > domain.size() && host.ends_with(domain) &&
           host[host.size() - domain.size() - 1] == '.';
}
