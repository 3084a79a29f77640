#include "discovery/provider_table.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* kHeader =
    "# a note\n"
    "domain\tprovider\tsmtp_host\tsmtp_port\tsmtp_socket\tusername\tsmtp_auth\tpop_host\tpop_"
    "port\tpop_socket\n";

TEST(ProviderTable, TheShippedFileParsesWhole) {
    EXPECT_EQ(ShippedProviderTableError(), "");
    // Its header: 962 domains.
    EXPECT_EQ(ShippedProviderTable().DomainCount(), 962U);
}

TEST(ProviderTable, ShippedRowsAsTheFormUsesThem) {
    struct Case {
        const char* domain;
        const char* host;
        std::uint16_t port;
        SmtpTransportKind kind;
        AccountForm account;
        bool oauthOnly;
        const char* popHost;
        std::uint16_t popPort;
    };
    using K = SmtpTransportKind;
    using A = AccountForm;
    const Case cases[] = {
        // An SSL and a STARTTLS row: TLS from the first byte.
        {"mail.com", "smtp.mail.com", 465, K::kTls, A::kWholeAddress, false, "pop.mail.com", 995},
        {"2die4.com", "smtp.mail.com", 465, K::kTls, A::kWholeAddress, false, "pop.mail.com", 995},
        {"Yahoo.CO.JP", "smtp.mail.yahoo.co.jp", 465, K::kTls, A::kLocalPart, false,
         "pop.mail.yahoo.co.jp", 995},
        {"hotmail.co.jp", "smtp-mail.outlook.com", 587, K::kStartTls, A::kWholeAddress, true,
         "outlook.office365.com", 995},
        // OAuth2 beside a password: not OAuth2 only.
        {"gmail.com", "smtp.gmail.com", 465, K::kTls, A::kWholeAddress, false, "pop.gmail.com",
         995},
        {"126.com", "smtp.126.com", 465, K::kTls, A::kWholeAddress, false, "", 0},
        {"miobox.jp", "mbox.iijmio-mail.jp", 587, K::kStartTls, A::kLocalPartDotDomain, false,
         "mbox.iijmio-mail.jp", 110},
        {"teol.net", "smtp.teol.net", 465, K::kTls, A::kWholeAddress, false, "pop3.teol.net", 995},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.domain);
        const ProviderRow* row = ShippedProviderTable().PreferredRow(c.domain);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->smtpHost, c.host);
        EXPECT_EQ(row->smtpPort, c.port);
        EXPECT_EQ(row->smtpKind, c.kind);
        EXPECT_EQ(row->account, c.account);
        EXPECT_EQ(row->oauthOnly, c.oauthOnly);
        EXPECT_EQ(row->popHost, c.popHost);
        EXPECT_EQ(row->popPort, c.popPort);
    }
    EXPECT_EQ(ShippedProviderTable().PreferredRow("example.test"), nullptr);
}

TEST(ProviderTable, RowsStayInFileOrderAndTlsIsPreferredWhereverItStands) {
    std::string error;
    const auto table = ProviderTable::Parse(std::string(kHeader) +
                                                "a.test\tA\tplain.a.test\t25\tplain\t\tnone\t\t\t\n"
                                                "a.test\tA\tstart.a.test\t587\tSTARTTLS\t\t\t\t\t\n"
                                                "a.test\tA\ttls.a.test\t465\tSSL\t\t\t\t\t\n"
                                                "a.test\tA\ttls2.a.test\t465\tSSL\t\t\t\t\t\n"
                                                "b.test\tB\tstart.b.test\t587\tSTARTTLS\t\t\t\t\t\n"
                                                "b.test\tB\tplain.b.test\t25\tplain\t\t\t\t\t\n",
                                            error);
    ASSERT_TRUE(table) << error;
    const auto rows = table->RowsFor("A.test");
    ASSERT_EQ(rows.size(), 4U);
    EXPECT_EQ(rows[0]->smtpHost, "plain.a.test");
    EXPECT_EQ(rows[3]->smtpHost, "tls2.a.test");
    EXPECT_EQ(table->PreferredRow("a.test")->smtpHost, "tls.a.test");
    EXPECT_EQ(table->PreferredRow("b.test")->smtpHost, "start.b.test");
}

TEST(ProviderTable, MxHostsFindTheirProviderByTheNamesAboveThem) {
    const ProviderTable& table = ShippedProviderTable();
    const struct {
        const char* mxHost;
        const char* provider;  // nullptr: none
    } cases[] = {
        {"aspmx.l.google.com", "GMail"},
        {"ALT1.ASPMX.L.GOOGLE.COM.", "GMail"},
        // The longest name held wins: mail.protection.outlook.com is a row.
        {"example-com.mail.protection.outlook.com", "Microsoft 365"},
        {"x.outlook.com", "Outlook"},
        {"google.com", nullptr},  // the host itself is not looked up
        {"mx.example.test", nullptr},
        {"com", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mxHost);
        const ProviderRow* row = table.RowForParentOf(c.mxHost);
        if (c.provider == nullptr) {
            EXPECT_EQ(row, nullptr);
        } else {
            ASSERT_NE(row, nullptr);
            EXPECT_EQ(row->provider, c.provider);
        }
    }
    EXPECT_TRUE(table.IsSmtpHost("SMTP.gmail.com"));
    EXPECT_FALSE(table.IsSmtpHost("gmail.com"));
}

TEST(ProviderTable, AMalformedLineIsRefusedNamingIt) {
    const struct {
        const char* row;
        const char* error;
    } cases[] = {
        {"a.test\tA\ts.a.test\t465\tSSL\t\t\t\t\n", "line 3: 9 fields where 10 are expected"},
        {"a.test\tA\ts.a.test\t0\tSSL\t\t\t\t\t\n", "line 3: smtp_port \"0\" is not a port"},
        {"a.test\tA\ts.a.test\t65536\tSSL\t\t\t\t\t\n", "line 3: smtp_port \"65536\""},
        {"a.test\tA\ts.a.test\t465x\tSSL\t\t\t\t\t\n", "line 3: smtp_port \"465x\""},
        {"a.test\tA\ts.a.test\t465\tTLS\t\t\t\t\t\n", "line 3: smtp_socket \"TLS\""},
        {"a.test\tA\ts.a.test\t465\tSSL\t%EMAIL%\t\t\t\t\n", "line 3: username \"%EMAIL%\""},
        {"a.test\tA\ts.a.test\t465\tSSL\t\t\tpop.a.test\t\tSSL\n", "line 3: pop_host, pop_port"},
        {"\tA\ts.a.test\t465\tSSL\t\t\t\t\t\n", "line 3: domain, provider and smtp_host"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        std::string error;
        EXPECT_FALSE(ProviderTable::Parse(std::string(kHeader) + c.row, error));
        EXPECT_EQ(error.rfind(c.error, 0), 0U) << error;
    }
    std::string error;
    EXPECT_FALSE(ProviderTable::Parse("# notes only\n", error));
    EXPECT_EQ(error, "no header line");
    EXPECT_FALSE(ProviderTable::Parse("domain\tprovider\tx\ty\tz\tu\tv\tw\tp\tq\n", error));
    EXPECT_EQ(error, "line 1: the header does not name the expected columns");
}

}  // namespace
