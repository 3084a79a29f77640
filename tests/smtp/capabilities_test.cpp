#include "smtp/capabilities.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// The offer as "STARTTLS AUTH mechanism...", each part only when offered.
std::string Shown(const SmtpCapabilities& offer) {
    std::string shown = offer.startTls ? "STARTTLS" : "";
    if (offer.auth) {
        shown += shown.empty() ? "AUTH" : " AUTH";
    }
    for (const std::string& mechanism : offer.mechanisms) {
        shown += " " + mechanism;
    }
    return shown;
}

TEST(CapabilitiesTest, KeywordsCountOnlyAtTheStartOfALineAfterTheFirst) {
    using std::string_literals::operator""s;
    const std::vector<std::pair<std::string, std::string>> cases = {
        // reply, offer shown
        {"250-mail.example\r\n250-PIPELINING\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n",
         "STARTTLS AUTH PLAIN LOGIN"},
        {"250-mail.example greets LOGIN\r\n250 8BITMIME\r\n", ""},  // not in the greeting line
        {"250-AUTH LOGIN\r\n250 STARTTLS\r\n", "STARTTLS"},  // the first line carries nothing
        {"250 mail.example AUTH LOGIN STARTTLS\r\n", ""},
        {"250-mail\0.example\r\n250-X\0Y\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n"s,  // NUL hides none
         "STARTTLS AUTH LOGIN"},
        // The early AUTH= form, merged, each once, any case.
        {"250-m\r\n250-auth cram-md5 login\r\n250-AUTH=LOGIN PLAIN\r\n250 OK\r\n",
         "AUTH CRAM-MD5 LOGIN PLAIN"},
        {"250-m\r\n250 AUTH\r\n", "AUTH"},
        {"250-m\r\n250-X-AUTHX LOGIN\r\n250-AUTHLOGIN\r\n250-XSTARTTLS\r\n250 LOGIN\r\n", ""},
        {"250-m\r\n250 AUTH STARTTLS\r\n", "AUTH STARTTLS"},       // a parameter, not the keyword
        {"250-m\r\n250 AUTH LOG\x01IN  PLAIN\r\n", "AUTH PLAIN"},  // a control byte
        {"250-m\r\n25-AUTH LOGIN\r\n250- STARTTLS\r\n250_AUTH X\r\n250 \r\n", ""},
        {"250-m\r\n250-AUTH LOGIN", ""},                  // a last line without CR LF
        {"250-m\n250-STARTTLS\n250 AUTH LOGIN\r\n", ""},  // lone LF ends no line
        {"250-m\r\n250 AUTH PLAIN\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n", "AUTH PLAIN"},
        {"250-m\r\n250\r\n250 STARTTLS\r\n", ""},  // a final line of three digits alone
        {"", ""},
    };
    for (const auto& [reply, shown] : cases) {
        EXPECT_EQ(Shown(ParseCapabilities(reply)), shown) << reply;
    }
}

TEST(CapabilitiesTest, ReadsSizeAndTheFlags) {
    const SmtpCapabilities all = ParseCapabilities(
        "250-m\r\n250-SIZE 35882577\r\n250-8bitmime\r\n250-PIPELINING\r\n250-SMTPUTF8\r\n"
        "250-ENHANCEDSTATUSCODES\r\n250 CHUNKING\r\n");
    EXPECT_TRUE(all.size && all.eightBitMime && all.pipelining && all.smtpUtf8 &&
                all.enhancedStatusCodes && all.chunking);
    EXPECT_EQ(all.sizeLimit, 35882577U);
    EXPECT_FALSE(all.startTls || all.auth);

    const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> sizes = {
        {"SIZE", std::nullopt},
        {"SIZE 0", 0},
        {"SIZE  1000", 1000},
        {"SIZE 18446744073709551615", UINT64_MAX},
        {"SIZE 18446744073709551616", std::nullopt},
        {"SIZE 12k", std::nullopt},
        {"SIZE -1", std::nullopt},
    };
    for (const auto& [line, limit] : sizes) {
        const SmtpCapabilities offer = ParseCapabilities("250-m\r\n250 " + line + "\r\n");
        EXPECT_TRUE(offer.size) << line;
        EXPECT_EQ(offer.sizeLimit, limit) << line;
    }
}

}  // namespace
