// The fixed parts of the test mail and the small conversions its sender
// makes, apart from any socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "smtp/smtp.h"

// The one-byte body source that selects the four test lines.
inline constexpr char kTestLinesMarker = '\x07';
inline constexpr std::string_view kTestLinesMarkerText = "\x07";

inline constexpr const char* kTestMailMailer = "Wakebell x64 Version 3.0";
inline constexpr const char* kTestMailSubject = "test mail";
inline constexpr const char* kTestMailBoundary = "test";
// TLS from the start of the connection, whatever the form's boxes say.
inline constexpr int kTestMailSecurityMode = 1;

// The four test lines in Shift_JIS (CP932) bytes, as they are sent:
//   "Wakebell　テストOKです。" (one ideographic space)
//   "このデスクトップアプリは電源の状態が変わったとき指定された"
//   "メールアドレスにメールを送信するものです。"
//   "送信するメールの種類はログオン、ログオフ、スリープ、スタンバイの４つです。"
extern const char* const kTestMailLines[4];

// The port a port text names, read as a decimal integer is: leading white
// space skipped, an optional sign, then the digits up to the first other
// character (" 25x" is 25); no digits give 0, the client's default port.
// nullopt when the number is negative or above 65535, which no port is.
std::optional<std::uint16_t> PortFromText(std::string_view text);

// 1: TLS from the start, 2: STARTTLS, anything else: no TLS.
SmtpSecurity SecurityFromMode(int securityMode);

// A line of a body file without its line end: a final CR LF or LF goes, and
// nothing else (a short or unterminated last line keeps every byte).
std::string_view WithoutLineEnd(std::string_view line);
