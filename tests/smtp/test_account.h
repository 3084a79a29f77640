// The account the SMTP tests log in with, and every form in which its
// secrets could leak into the client's trace.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "codec/base64.h"

inline constexpr std::string_view kTestUser = "wakebell-tester";
inline constexpr std::string_view kTestPassword = "Pa55-w0rd!quite-long";

inline std::string Base64Of(std::string_view bytes) {
    return Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<std::int32_t>(bytes.size()));
}

// The user name and password as they are, and their base64 forms at each of
// the three alignments they can take inside a longer encoded message (AUTH
// PLAIN's NUL-joined message, a CRAM-MD5 or DIGEST-MD5 response): the groups
// that mix in neighbouring bytes are left out, the rest is what would show.
inline std::vector<std::string> CredentialForms() {
    std::vector<std::string> forms;
    for (const std::string_view secret : {kTestUser, kTestPassword}) {
        forms.emplace_back(secret);
        forms.push_back(Base64Of(secret));
        for (std::size_t shift = 1; shift <= 2; ++shift) {
            const std::string encoded = Base64Of(std::string(shift, '\0') + std::string(secret));
            forms.push_back(encoded.substr(4, encoded.size() - 8));
        }
    }
    std::string plain(1, '\0');
    plain.append(kTestUser).append(1, '\0').append(kTestPassword);
    forms.push_back(Base64Of(plain));
    return forms;
}
