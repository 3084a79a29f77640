// The English text of each error code.
#include "smtp/smtp_error.h"

namespace {

const char* TextOf(std::int32_t code) {
    // "reciepent" and "recipent" are spelled so on purpose: these are the
    // exact texts the client reports, and log searches match them.
    switch (code) {
        case ERR_NONE: return "";
        case ERR_WSA_STARTUP: return "Unable to initialise winsock2";
        case ERR_WSA_VERSION: return "Wrong version of the winsock2";
        case ERR_SEND: return "Function send() failed";
        case ERR_RECV: return "Function recv() failed";
        case ERR_CONNECT: return "Function connect failed";
        case ERR_RESOLVE: return "Unable to determine remote server";
        case ERR_SOCKET: return "Invalid winsock2 socket";
        case ERR_HOSTNAME: return "Function hostname() failed";
        case ERR_IOCTL: return "Function ioctlsocket() failed";
        case ERR_BAD_IPV4: return "Improper IPv4 address";
        case ERR_CONNECTION_REFUSED: return "Connection refused by the server";
        case ERR_NO_HEADER: return "Undefined message header";
        case ERR_NO_SENDER: return "Undefined mail sender";
        case ERR_NO_SUBJECT: return "Undefined message subject";
        case ERR_NO_RECIPIENT: return "Undefined at least one reciepent";
        case ERR_NO_LOGIN: return "Undefined user login";
        case ERR_NO_PASSWORD: return "Undefined user password";
        case ERR_BAD_CREDENTIALS: return "Invalid user login or password";
        case ERR_BAD_DIGEST_CHALLENGE: return "Server returned a bad digest MD5 response";
        case ERR_NO_DIGEST_SERVER: return "Unable to determine server name for digest MD5 response";
        case ERR_NO_RECIPIENT_ADDRESS: return "Undefined recipent mail";
        case ERR_COMMAND_TOO_LONG: return "Command line is too long for the send buffer";
        case ERR_LINE_BREAK_IN_FIELD: return "Line break in a mail address or header text";
        case ERR_BAD_PORT: return "Port number is out of range";
        case ERR_BAD_ADDRESS_CHARACTER: return "Invalid character in a mail address";
        case ERR_REPLY_MAIL_FROM: return "Server returned error after sending MAIL FROM";
        case ERR_REPLY_EHLO: return "Server returned error after sending EHLO";
        case ERR_REPLY_AUTH_PLAIN: return "Server returned error after sending AUTH PLAIN";
        case ERR_REPLY_AUTH_LOGIN: return "Server returned error after sending AUTH LOGIN";
        case ERR_REPLY_AUTH_CRAM_MD5: return "Server returned error after sending AUTH CRAM-MD5";
        case ERR_REPLY_AUTH_DIGEST_MD5:
            return "Server returned error after sending AUTH DIGEST-MD5";
        case ERR_REPLY_DIGEST_MD5: return "Server returned error after sending MD5 DIGEST";
        case ERR_REPLY_DATA: return "Server returned error after sending DATA";
        case ERR_REPLY_QUIT: return "Server returned error after sending QUIT";
        case ERR_REPLY_RCPT_TO: return "Server returned error after sending RCPT TO";
        case ERR_MESSAGE_BODY: return "Error in message body";
        case ERR_CONNECTION_CLOSED: return "Server has closed the connection";
        case ERR_SERVER_NOT_READY: return "Server is not ready";
        case ERR_NOT_RESPONDING: return "Server not responding";
        case ERR_FILE_NOT_FOUND: return "File not exist";
        case ERR_MESSAGE_TOO_BIG: return "Message is too big";
        case ERR_BAD_LOGIN: return "Bad login or password";
        case ERR_UNEXPECTED_REPLY: return "Undefined xyz SMTP response";
        case ERR_NO_MEMORY: return "Lack of memory";
        case ERR_TIME: return "time() error";
        case ERR_NO_RECV_BUFFER: return "RecvBuf is empty";
        case ERR_NO_SEND_BUFFER: return "SendBuf is empty";
        case ERR_LINE_OUT_OF_RANGE: return "Specified line number is out of message size";
        case ERR_REPLY_STARTTLS: return "Server returned error after sending STARTTLS";
        case ERR_TLS: return "SSL problem";
        case ERR_DATA_BLOCK: return "Failed to send data block";
        case ERR_STARTTLS_UNSUPPORTED: return "The STARTTLS command is not supported by the server";
        case ERR_AUTH_LOGIN_UNSUPPORTED: return "AUTH LOGIN is not supported by the server";
        case ERR_REPLY_TOO_LONG: return "Server reply is too long";
        case ERR_CANCELLED: return "Exchange cancelled";
        case ERR_TLS_PLAIN_SERVER:
            return "The server answered in plain text where TLS was expected";
        case ERR_NO_RANDOM: return "Random bytes could not be made";
        case ERR_NO_THREAD: return "A thread could not be started";
        default: return "Undefined error id";  // ERR_SELECT and ERR_CONNECT_TIMEOUT too
    }
}

}  // namespace

std::string ECSmtp::Describe() const {
    return TextOf(m_code);
}

const char* ECSmtp::what() const noexcept {
    return TextOf(m_code);
}
