#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <string>

#include "smtp/smtp.h"

namespace {

TEST(SmtpClientTest, FreshObjectHasNoConnectionAndTheMachinesName) {
    const CSmtp smtp;
    std::array<char, 256> name{};
    ASSERT_EQ(gethostname(name.data(), name.size() - 1), 0);
    EXPECT_STREQ(smtp.GetLocalHost(), name.data());
    EXPECT_FALSE(smtp.HasSocket());
    EXPECT_FALSE(smtp.IsConnected());
    EXPECT_EQ(smtp.GetBodyLineCount(), 0U);
    EXPECT_STREQ(smtp.GetLastReply(), "");
}

TEST(SmtpClientTest, BodyLinesAreKeptAsGivenAndIndexedFromZero) {
    CSmtp smtp;
    smtp.AddBodyLine("first");
    smtp.AddBodyLine("");
    EXPECT_EQ(smtp.GetBodyLineCount(), 2U);
    EXPECT_EQ(smtp.GetBodyLine(0), "first");
    EXPECT_EQ(smtp.GetBodyLine(1), "");
    for (const std::uint32_t index : {2U, 3U, 0xffffffffU}) {
        try {
            smtp.GetBodyLine(index);
            ADD_FAILURE() << index;
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.Code(), ERR_LINE_OUT_OF_RANGE);
        }
    }
}

TEST(SmtpClientTest, RecipientNeedsAnAddress) {
    CSmtp smtp;
    EXPECT_NO_THROW(smtp.AddRecipient("to@example.test", nullptr));
    EXPECT_NO_THROW(smtp.AddRecipient(""));
    try {
        smtp.AddRecipient(nullptr, "Name");
        ADD_FAILURE() << "a null address was accepted";
    } catch (const ECSmtp& e) {
        EXPECT_EQ(e.Code(), ERR_NO_RECIPIENT_ADDRESS);
    }
}

TEST(SmtpClientTest, EveryCommandFindsItsOwnRow) {
    for (const SmtpCommandSpec& row : SmtpCommandTable) {
        EXPECT_EQ(LookupCommand(row.command), &row);
    }
    EXPECT_EQ(LookupCommand(static_cast<SmtpCommand>(16)), nullptr);
}

}  // namespace
