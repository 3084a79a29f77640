#include "smtp/smtp_error.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// Every code that has a text of its own, with the text users see.
const std::vector<std::pair<int, const char*>> kTable = {
    {100, "Unable to initialise winsock2"},
    {101, "Wrong version of the winsock2"},
    {102, "Function send() failed"},
    {103, "Function recv() failed"},
    {104, "Function connect failed"},
    {105, "Unable to determine remote server"},
    {106, "Invalid winsock2 socket"},
    {107, "Function hostname() failed"},
    {108, "Function ioctlsocket() failed"},
    {110, "Improper IPv4 address"},
    {200, "Undefined message header"},
    {201, "Undefined mail sender"},
    {202, "Undefined message subject"},
    {203, "Undefined at least one reciepent"},
    {204, "Undefined user login"},
    {205, "Undefined user password"},
    {206, "Invalid user login or password"},
    {207, "Server returned a bad digest MD5 response"},
    {208, "Unable to determine server name for digest MD5 response"},
    {209, "Undefined recipent mail"},
    {300, "Server returned error after sending MAIL FROM"},
    {301, "Server returned error after sending EHLO"},
    {302, "Server returned error after sending AUTH PLAIN"},
    {303, "Server returned error after sending AUTH LOGIN"},
    {304, "Server returned error after sending AUTH CRAM-MD5"},
    {305, "Server returned error after sending AUTH DIGEST-MD5"},
    {306, "Server returned error after sending MD5 DIGEST"},
    {307, "Server returned error after sending DATA"},
    {308, "Server returned error after sending QUIT"},
    {309, "Server returned error after sending RCPT TO"},
    {310, "Error in message body"},
    {400, "Server has closed the connection"},
    {401, "Server is not ready"},
    {402, "Server not responding"},
    {404, "File not exist"},
    {405, "Message is too big"},
    {406, "Bad login or password"},
    {407, "Undefined xyz SMTP response"},
    {408, "Lack of memory"},
    {409, "time() error"},
    {410, "RecvBuf is empty"},
    {411, "SendBuf is empty"},
    {412, "Specified line number is out of message size"},
    {413, "Server returned error after sending STARTTLS"},
    {414, "SSL problem"},
    {415, "Failed to send data block"},
    {416, "The STARTTLS command is not supported by the server"},
    {417, "AUTH LOGIN is not supported by the server"},
    // Added for failures that were once left to chance.
    {210, "Command line is too long for the send buffer"},
    {418, "Server reply is too long"},
};

TEST(SmtpErrorTest, EveryCodeOfTheTableDescribesItselfWordForWord) {
    for (const auto& [code, text] : kTable) {
        EXPECT_EQ(ECSmtp(code).Describe(), text) << "code " << code;
    }
}

TEST(SmtpErrorTest, NoErrorIsTheEmptyText) {
    EXPECT_EQ(ECSmtp(ERR_NONE).Describe(), "");
}

TEST(SmtpErrorTest, CodesWithoutATextOfTheirOwnAreUndefined) {
    for (const int code : {109, 403, 111, -1, 1, 99, 212, 311, 419, 500}) {
        EXPECT_EQ(ECSmtp(code).Describe(), "Undefined error id") << "code " << code;
    }
}

}  // namespace
