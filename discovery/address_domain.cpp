// Checks an address's domain against the host name rules DNS allows.
#include "discovery/address_domain.h"

#include "discovery/provider_table.h"

namespace {

constexpr std::size_t kMaxName = 253;
constexpr std::size_t kMaxLabel = 63;

bool LetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
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

bool IsHostName(std::string_view name) {
    if (!name.empty() && name.back() == '.') {
        name.remove_suffix(1);
    }
    if (name.empty() || name.size() > kMaxName) {
        return false;
    }
    for (;;) {
        const std::size_t dot = name.find('.');
        if (!ValidLabel(name.substr(0, dot))) {
            return false;
        }
        if (dot == std::string_view::npos) {
            return true;
        }
        name.remove_prefix(dot + 1);
    }
}

std::optional<std::string> AddressDomain(std::string_view address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string domain = AsciiLower(address.substr(at + 1));
    if (!domain.empty() && domain.back() == '.') {
        domain.pop_back();
    }
    if (domain.find('.') == std::string::npos || !IsHostName(domain)) {
        return std::nullopt;
    }
    return domain;
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
