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

// Whether host is domain itself or a name under it (both lower case;
// a final dot on host is ignored).
bool IsWithinDomain(std::string_view host, std::string_view domain);
