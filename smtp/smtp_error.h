// The one exception type of the SMTP client and its error codes.
//
// Every failure inside the client raises an ECSmtp carrying one SmtpError
// code; no client operation returns an error value. Codes fall into bands by
// their hundreds: 1xx network, 2xx missing or invalid input, 3xx rejected
// commands, 4xx connection, resource and TLS faults. Throw by value, catch by
// reference, and turn the code into English text with Describe() (or what()).
//
// The error model of smtp/: ECSmtp is a std::exception, so a caller that
// catches std::exception (or logs what()) sees the client's own text rather
// than mistaking it for some other failure. Besides ECSmtp the client lets
// only std::bad_alloc out of its operations.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

enum SmtpError : std::int32_t {
    ERR_NONE = 0,
    ERR_WSA_STARTUP = 100,
    ERR_WSA_VERSION = 101,
    ERR_SEND = 102,
    ERR_RECV = 103,
    ERR_CONNECT = 104,
    ERR_RESOLVE = 105,
    ERR_SOCKET = 106,
    ERR_HOSTNAME = 107,
    ERR_IOCTL = 108,
    ERR_SELECT = 109,
    ERR_BAD_IPV4 = 110,
    ERR_CONNECTION_REFUSED = 111,  // nothing listens on the port (ECONNREFUSED)
    ERR_NO_HEADER = 200,
    ERR_NO_SENDER = 201,
    ERR_NO_SUBJECT = 202,
    ERR_NO_RECIPIENT = 203,
    ERR_NO_LOGIN = 204,
    ERR_NO_PASSWORD = 205,
    ERR_BAD_CREDENTIALS = 206,
    ERR_BAD_DIGEST_CHALLENGE = 207,
    ERR_NO_DIGEST_SERVER = 208,
    ERR_NO_RECIPIENT_ADDRESS = 209,
    ERR_COMMAND_TOO_LONG = 210,       // a command line that would not fit the send buffer
    ERR_LINE_BREAK_IN_FIELD = 211,    // CR or LF in an address or a header text
    ERR_BAD_PORT = 212,               // a port text whose number is not 0..65535
    ERR_BAD_ADDRESS_CHARACTER = 213,  // "<", ">", a blank or a control byte in an envelope address
    ERR_REPLY_MAIL_FROM = 300,
    ERR_REPLY_EHLO = 301,
    ERR_REPLY_AUTH_PLAIN = 302,
    ERR_REPLY_AUTH_LOGIN = 303,
    ERR_REPLY_AUTH_CRAM_MD5 = 304,
    ERR_REPLY_AUTH_DIGEST_MD5 = 305,
    ERR_REPLY_DIGEST_MD5 = 306,
    ERR_REPLY_DATA = 307,
    ERR_REPLY_QUIT = 308,
    ERR_REPLY_RCPT_TO = 309,
    ERR_MESSAGE_BODY = 310,
    ERR_CONNECTION_CLOSED = 400,
    ERR_SERVER_NOT_READY = 401,
    ERR_NOT_RESPONDING = 402,
    ERR_CONNECT_TIMEOUT = 403,
    ERR_FILE_NOT_FOUND = 404,
    ERR_MESSAGE_TOO_BIG = 405,
    ERR_BAD_LOGIN = 406,
    ERR_UNEXPECTED_REPLY = 407,
    ERR_NO_MEMORY = 408,
    ERR_TIME = 409,
    ERR_NO_RECV_BUFFER = 410,
    ERR_NO_SEND_BUFFER = 411,
    ERR_LINE_OUT_OF_RANGE = 412,
    ERR_REPLY_STARTTLS = 413,
    ERR_TLS = 414,
    ERR_DATA_BLOCK = 415,
    ERR_STARTTLS_UNSUPPORTED = 416,
    ERR_AUTH_LOGIN_UNSUPPORTED = 417,
    ERR_REPLY_TOO_LONG = 418,    // a reply that never ends within a sane size
    ERR_CANCELLED = 419,         // the owner ended the exchange (SmtpAbort)
    ERR_TLS_PLAIN_SERVER = 420,  // a plain SMTP reply where a TLS record was expected
    ERR_NO_RANDOM = 421,         // the random source failed (Message-ID, DIGEST-MD5 cnonce)
    ERR_NO_THREAD = 422,         // the owner could not start the thread the exchange runs on
};

class ECSmtp : public std::exception {
  public:
    explicit ECSmtp(std::int32_t code) noexcept : m_code(code) {}

    std::int32_t Code() const noexcept { return m_code; }

    // The English text of the code: empty for ERR_NONE, "Undefined error id"
    // for every code without a text of its own (ERR_SELECT and
    // ERR_CONNECT_TIMEOUT among them, and any value outside the enumeration).
    std::string Describe() const;
    // The same text, valid for the program's life.
    const char* what() const noexcept override;

  private:
    std::int32_t m_code;
};
