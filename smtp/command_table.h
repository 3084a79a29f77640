// The protocol steps of the client and the time-outs of each.
//
// Every command the client sends, and the greeting it only reads, has one
// row: how long one wait for the socket may last while sending the command
// and while receiving its reply, in whole seconds. A step that waits several
// times gets the full time-out for each wait.
#pragma once

#include <array>
#include <cstdint>

enum SmtpCommand : std::int32_t {
    CMD_GREETING = 0,
    CMD_EHLO = 1,
    CMD_AUTH_PLAIN = 2,
    CMD_AUTH_LOGIN = 3,
    CMD_AUTH_CRAM_MD5 = 4,
    CMD_AUTH_DIGEST_MD5 = 5,
    CMD_DIGEST_MD5 = 6,  // the DIGEST-MD5 response line
    CMD_USER = 7,
    CMD_PASSWORD = 8,
    CMD_MAIL_FROM = 9,
    CMD_RCPT_TO = 10,
    CMD_DATA = 11,
    CMD_DATA_BLOCK = 12,
    CMD_DATA_END = 13,
    CMD_QUIT = 14,
    CMD_STARTTLS = 15,
};

struct SmtpCommandSpec {
    SmtpCommand command;
    std::int32_t sendTimeout;  // seconds per wait while sending
    std::int32_t recvTimeout;  // seconds per wait while receiving the reply
};

inline constexpr std::array<SmtpCommandSpec, 16> SmtpCommandTable{{
    {CMD_GREETING, 0, 300},
    {CMD_EHLO, 300, 300},
    {CMD_AUTH_PLAIN, 300, 300},
    {CMD_AUTH_LOGIN, 300, 300},
    {CMD_AUTH_CRAM_MD5, 300, 300},
    {CMD_AUTH_DIGEST_MD5, 300, 300},
    {CMD_DIGEST_MD5, 300, 300},
    {CMD_USER, 300, 300},
    {CMD_PASSWORD, 300, 300},
    {CMD_MAIL_FROM, 300, 300},
    {CMD_RCPT_TO, 300, 300},
    {CMD_DATA, 300, 120},
    {CMD_DATA_BLOCK, 180, 0},
    {CMD_DATA_END, 180, 600},
    {CMD_QUIT, 300, 300},
    {CMD_STARTTLS, 300, 300},
}};

// Seconds per wait for the connect and for the TLS handshake.
inline constexpr std::int32_t kConnectTimeout = 180;

// The row of command, or null when the table has none.
const SmtpCommandSpec* LookupCommand(SmtpCommand command) noexcept;
