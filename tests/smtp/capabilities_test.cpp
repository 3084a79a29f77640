#include "smtp/capabilities.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct CapabilityCase {
    const char* name;
    std::string reply;
    bool startTls;
    bool auth;
    std::vector<std::string> mechanisms;
};

TEST(CapabilitiesTest, KeywordsCountOnlyAtTheStartOfALineAfterTheFirst) {
    using std::string_literals::operator""s;
    const std::vector<CapabilityCase> cases = {
        {"a usual reply",
         "250-mail.example\r\n250-PIPELINING\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n",
         true,
         true,
         {"PLAIN", "LOGIN"}},
        {"a mechanism name in the greeting line",
         "250-mail.example greets LOGIN\r\n250 8BITMIME\r\n",
         false,
         false,
         {}},
        {"the first line carries nothing", "250-AUTH LOGIN\r\n250 STARTTLS\r\n", true, false, {}},
        {"a one-line reply", "250 mail.example AUTH LOGIN STARTTLS\r\n", false, false, {}},
        {"a NUL hides nothing after it",
         "250-mail\0.example\r\n250-X\0Y\r\n250-AUTH LOGIN\r\n250 STARTTLS\r\n"s,
         true,
         true,
         {"LOGIN"}},
        {"the early AUTH= form, merged, each once, any case",
         "250-m\r\n250-auth cram-md5 login\r\n250-AUTH=LOGIN PLAIN\r\n250 OK\r\n",
         false,
         true,
         {"CRAM-MD5", "LOGIN", "PLAIN"}},
        {"AUTH with no mechanism", "250-m\r\n250 AUTH\r\n", false, true, {}},
        {"names that only contain a keyword",
         "250-m\r\n250-X-AUTHX LOGIN\r\n250-AUTHLOGIN\r\n250-XSTARTTLS\r\n250 LOGIN\r\n",
         false,
         false,
         {}},
        {"STARTTLS as a parameter is not the keyword",
         "250-m\r\n250 AUTH STARTTLS\r\n",
         false,
         true,
         {"STARTTLS"}},
        {"a mechanism with a control byte",
         "250-m\r\n250 AUTH LOG\x01IN  PLAIN\r\n",
         false,
         true,
         {"PLAIN"}},
        {"lines of another form",
         "250-m\r\n25-AUTH LOGIN\r\n250- STARTTLS\r\n250_AUTH X\r\n250 \r\n",
         false,
         false,
         {}},
        {"a last line without CR LF", "250-m\r\n250-AUTH LOGIN", false, false, {}},
        {"lone LF ends no line", "250-m\n250-STARTTLS\n250 AUTH LOGIN\r\n", false, false, {}},
        {"bytes after the final line",
         "250-m\r\n250 AUTH PLAIN\r\n250-STARTTLS\r\n250 AUTH LOGIN\r\n",
         false,
         true,
         {"PLAIN"}},
        {"final line of three digits alone", "250-m\r\n250\r\n250 STARTTLS\r\n", false, false, {}},
        {"nothing", "", false, false, {}},
    };
    for (const CapabilityCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SmtpCapabilities offer = ParseCapabilities(c.reply);
        EXPECT_EQ(offer.startTls, c.startTls);
        EXPECT_EQ(offer.auth, c.auth);
        EXPECT_EQ(offer.mechanisms, c.mechanisms);
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

    const SmtpCapabilities none = ParseCapabilities("250 m\r\n");
    EXPECT_FALSE(none.size || none.eightBitMime || none.pipelining || none.smtpUtf8 ||
                 none.enhancedStatusCodes || none.chunking);

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
