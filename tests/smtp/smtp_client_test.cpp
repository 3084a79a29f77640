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
    EXPECT_STREQ(smtp.GetLastReply(), "");
}

// Lines are indexed from zero; an index past the end is 412, not a read
// past the list. A recipient without an address is 209.
TEST(SmtpClientTest, BodyLinesAndRecipientsRefuseWhatIsNotThere) {
    CSmtp smtp;
    smtp.AddBodyLine("first");
    smtp.AddBodyLine("");
    EXPECT_EQ(smtp.GetBodyLine(0), "first");
    for (const std::uint32_t index : {2U, 0xffffffffU}) {
        try {
            smtp.GetBodyLine(index);
            ADD_FAILURE() << index;
        } catch (const ECSmtp& e) {
            EXPECT_EQ(e.Code(), ERR_LINE_OUT_OF_RANGE);
        }
    }
    EXPECT_NO_THROW(smtp.AddRecipient("to@example.test", nullptr));
    try {
        smtp.AddRecipient(nullptr, "Name");
        ADD_FAILURE() << "a null address was accepted";
    } catch (const ECSmtp& e) {
        EXPECT_EQ(e.Code(), ERR_NO_RECIPIENT_ADDRESS);
    }
}

}  // namespace
