#include "smtp/smtp_error.h"

#include <gtest/gtest.h>

namespace {

// A few texts word for word, the codes added for failures once left to
// chance among them; codes without a text of their own share one.
TEST(SmtpErrorTest, CodesDescribeThemselvesAndOthersAreUndefined) {
    EXPECT_EQ(ECSmtp(ERR_NONE).Describe(), "");
    EXPECT_EQ(ECSmtp(100).Describe(), "Unable to initialise winsock2");
    EXPECT_EQ(ECSmtp(203).Describe(), "Undefined at least one reciepent");
    EXPECT_EQ(ECSmtp(406).Describe(), "Bad login or password");
    EXPECT_EQ(ECSmtp(417).Describe(), "AUTH LOGIN is not supported by the server");
    EXPECT_EQ(ECSmtp(210).Describe(), "Command line is too long for the send buffer");
    EXPECT_EQ(ECSmtp(418).Describe(), "Server reply is too long");
    EXPECT_EQ(ECSmtp(211).Describe(), "Line break in a mail address or header text");
    EXPECT_EQ(ECSmtp(212).Describe(), "Port number is out of range");
    EXPECT_EQ(ECSmtp(213).Describe(), "Invalid character in a mail address");
    EXPECT_EQ(ECSmtp(419).Describe(), "Exchange cancelled");
    EXPECT_EQ(ECSmtp(111).Describe(), "Connection refused by the server");
    EXPECT_EQ(ECSmtp(420).Describe(), "The server answered in plain text where TLS was expected");
    EXPECT_EQ(ECSmtp(421).Describe(), "Random bytes could not be made");
    EXPECT_STREQ(ECSmtp(422).what(), "A thread could not be started");
    for (const int code : {109, 403, -1, 1, 99, 214, 311, 423, 500}) {
        EXPECT_EQ(ECSmtp(code).Describe(), "Undefined error id") << "code " << code;
    }
}

}  // namespace
