// The domain of a mail address, checked as a host name DNS allows, and the
// relation of a host to that domain.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The text after the last "@" of address, lower-cased, without one final
// dot; nullopt when there is no "@", or the rest is not a host name of
// letters, digits and hyphens in dot-separated labels (RFC 1123, 2.1: each
// label 1 to 63 characters, starting and ending with a letter or digit; the
// whole at most 253 characters, at least two labels).
std::optional<std::string> AddressDomain(std::string_view address);

// Whether name is a host name DNS allows (the rules above, letters of
// either case, one label enough, one final dot ignored). A name from a DNS
// answer that is not one (a forged "ev<il>" or "a,b") is never filled in.
bool IsHostName(std::string_view name);

// Whether host is domain itself or a name under it (both lower case;
// a final dot on host is ignored).
bool IsWithinDomain(std::string_view host, std::string_view domain);
