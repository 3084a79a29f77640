// The test mail's four Shift_JIS lines and the conversions of its port,
// security mode and body lines.
#include "mailcheck/check_mail_content.h"

#include <cctype>

const char* const kTestMailLines[4] = {
    // Wakebell　テストOKです。
    "Wakebell"
    "\x81\x40\x83\x65\x83\x58\x83\x67"
    "OK"
    "\x82\xc5\x82\xb7\x81\x42",
    // このデスクトップアプリは電源の状態が変わったとき指定された
    "\x82\xb1\x82\xcc\x83\x66\x83\x58\x83\x4e\x83\x67\x83\x62\x83\x76\x83\x41\x83\x76\x83\x8a"
    "\x82\xcd\x93\x64\x8c\xb9\x82\xcc\x8f\xf3\x91\xd4\x82\xaa\x95\xcf\x82\xed\x82\xc1\x82\xbd"
    "\x82\xc6\x82\xab\x8e\x77\x92\xe8\x82\xb3\x82\xea\x82\xbd",
    // メールアドレスにメールを送信するものです。
    "\x83\x81\x81\x5b\x83\x8b\x83\x41\x83\x68\x83\x8c\x83\x58\x82\xc9\x83\x81\x81\x5b\x83\x8b"
    "\x82\xf0\x91\x97\x90\x4d\x82\xb7\x82\xe9\x82\xe0\x82\xcc\x82\xc5\x82\xb7\x81\x42",
    // 送信するメールの種類はログオン、ログオフ、スリープ、スタンバイの４つです。
    "\x91\x97\x90\x4d\x82\xb7\x82\xe9\x83\x81\x81\x5b\x83\x8b\x82\xcc\x8e\xed\x97\xde\x82\xcd"
    "\x83\x8d\x83\x4f\x83\x49\x83\x93\x81\x41\x83\x8d\x83\x4f\x83\x49\x83\x74\x81\x41\x83\x58"
    "\x83\x8a\x81\x5b\x83\x76\x81\x41\x83\x58\x83\x5e\x83\x93\x83\x6f\x83\x43\x82\xcc\x82\x53"
    "\x82\xc2\x82\xc5\x82\xb7\x81\x42",
};

std::optional<std::uint16_t> PortFromText(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Any number past 65535 is refused, so counting can stop there.
    std::uint32_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

SmtpSecurity SecurityFromMode(int securityMode) {
    switch (securityMode) {
        case 1: return SECURITY_TLS;
        case 2: return SECURITY_STARTTLS;
        default: return SECURITY_NONE;
    }
}

std::string_view WithoutLineEnd(std::string_view line) {
    if (line.ends_with("\r\n")) {
        line.remove_suffix(2);
    } else if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    return line;
}
