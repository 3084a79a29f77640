// The client against real servers on 127.0.0.1: Debian's aiosmtpd for the
// security modes, LOGIN and PLAIN and the certificate checks, and Cyrus SASL's
// server library for CRAM-MD5 and DIGEST-MD5.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/smtp.h"
#include "tests/smtp/child_process.h"
#include "tests/smtp/test_account.h"
#include "tests/smtp/test_certificates.h"

namespace {

class RealServerTest : public ::testing::Test {
  protected:
    // Starts aiosmtpd with the certificate pair called name and the account
    // offered through mechanisms.
    const ServerProcess& StartAiosmtpd(const std::string& name = "server",
                                       const std::string& mechanisms = "LOGIN,PLAIN") {
        return Start({WAKEBELL_DEBIAN_PYTHON, WAKEBELL_AIOSMTPD_SERVER, "--cert",
                      m_certificates.File(name + ".pem"), "--key",
                      m_certificates.File(name + ".key"), "--user", std::string(kTestUser),
                      "--password", std::string(kTestPassword), "--mechanisms", mechanisms});
    }

    const ServerProcess& StartCyrus(const std::string& mechanisms) {
        const std::string sasldb = "sasldb" + std::to_string(m_servers.size());
        return Start({WAKEBELL_SASL_SMTP_SERVER, m_certificates.File(sasldb),
                      std::string(kTestUser), std::string(kTestPassword), mechanisms});
    }

    // Opens and closes a session; the ECSmtp code, 0 when both worked.
    int Session(std::uint16_t port, SmtpSecurity security, std::string_view password,
                const char* host = "127.0.0.1") {
        CSmtp smtp;
        smtp.SetTraceSink([this](std::string_view text) { m_trace.emplace_back(text); });
        smtp.SetWaitLimit(std::chrono::seconds(20));  // a faulty client fails, not hangs
        try {
            smtp.OpenSession(host, port, security, true, std::string(kTestUser).c_str(),
                             std::string(password).c_str());
            EXPECT_TRUE(smtp.QuitOwed());
            smtp.CloseSession();
        } catch (const ECSmtp& e) {
            return e.Code();
        }
        return 0;
    }

    // How many traced texts (lines sent, whole replies) begin with prefix.
    std::size_t Traced(std::string_view prefix) const {
        std::size_t count = 0;
        for (const std::string& text : m_trace) {
            count += text.starts_with(prefix) ? 1U : 0U;
        }
        return count;
    }

    void TearDown() override {
        for (const std::string& text : m_trace) {
            for (const std::string& form : CredentialForms()) {
                EXPECT_EQ(text.find(form), std::string::npos) << form << " in " << text;
            }
        }
    }

  private:
    const ServerProcess& Start(const std::vector<std::string>& argv) {
        return *m_servers.emplace_back(std::make_unique<ServerProcess>(argv));
    }

    TestCertificates m_certificates;
    std::vector<std::unique_ptr<ServerProcess>> m_servers;
    std::vector<std::string> m_trace;
};

// Offered both, the client prefers LOGIN; a wrong password is 406.
TEST_F(RealServerTest, AuthLoginInEverySecurityMode) {
    const ServerProcess& server = StartAiosmtpd();
    EXPECT_EQ(Session(server.Port("plain"), SECURITY_NONE, kTestPassword), 0);
    EXPECT_EQ(Session(server.Port("starttls"), SECURITY_STARTTLS, kTestPassword), 0);
    EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, kTestPassword), 0);
    // The host name is checked against the certificate's DNS name and sent as SNI.
    EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, kTestPassword, "localhost"), 0);
    EXPECT_EQ(Session(server.Port("plain"), SECURITY_NONE, "wrong"), ERR_BAD_LOGIN);
    EXPECT_EQ(Session(server.Port("starttls"), SECURITY_STARTTLS, "wrong"), ERR_BAD_LOGIN);
    EXPECT_EQ(Traced("AUTH LOGIN\r\n"), 6U);
    EXPECT_EQ(Traced("235 2.7.0 Authentication successful"), 4U);
    EXPECT_EQ(Traced("STARTTLS\r\n"), 2U);
    EXPECT_EQ(Traced("EHLO "), 8U);  // twice with STARTTLS
}

TEST_F(RealServerTest, AuthPlainWhenLoginIsNotOffered) {
    const ServerProcess& server = StartAiosmtpd("server", "PLAIN");
    EXPECT_EQ(Session(server.Port("plain"), SECURITY_NONE, kTestPassword), 0);
    EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, kTestPassword), 0);
    EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, "wrong"), ERR_BAD_LOGIN);
    EXPECT_EQ(Traced("AUTH PLAIN "), 3U);
    EXPECT_EQ(Traced("535 5.7.8"), 1U);
}

// The handshake fails before the greeting (TLS) or before the second EHLO
// (STARTTLS), so no AUTH line ever goes out.
TEST_F(RealServerTest, UntrustedOrMisnamedCertificatesAreRefusedBeforeAnyCredential) {
    for (const char* pair : {"rogue", "other-host"}) {
        SCOPED_TRACE(pair);
        const ServerProcess& server = StartAiosmtpd(pair);
        EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, kTestPassword), ERR_TLS);
        EXPECT_EQ(Session(server.Port("starttls"), SECURITY_STARTTLS, kTestPassword), ERR_TLS);
        EXPECT_EQ(Session(server.Port("tls"), SECURITY_TLS, kTestPassword, "localhost"), ERR_TLS);
    }
    EXPECT_EQ(Traced("AUTH"), 0U);
    EXPECT_EQ(Traced("220 test.invalid"), 2U);  // STARTTLS greetings only
}

// Offered both, the client prefers CRAM-MD5. The DIGEST-MD5 server wants the
// digest-uri smtp/127.0.0.1, so naming it "localhost" also shows that the URI
// carries the address connected to. Each DIGEST-MD5 login that works has also
// checked Cyrus's rspauth against the client's own computation; a wrong
// password is refused right after the response line, where the client
// expects that rspauth: 306.
TEST_F(RealServerTest, CramMd5AndDigestMd5AreAcceptedByCyrusSasl) {
    const ServerProcess& cram = StartCyrus("DIGEST-MD5 CRAM-MD5");
    EXPECT_EQ(Session(cram.Port("smtp"), SECURITY_NONE, kTestPassword), 0);
    EXPECT_EQ(Session(cram.Port("smtp"), SECURITY_NONE, "wrong"), ERR_BAD_LOGIN);
    EXPECT_EQ(Traced("AUTH CRAM-MD5\r\n"), 2U);

    const ServerProcess& digest = StartCyrus("DIGEST-MD5");
    EXPECT_EQ(Session(digest.Port("smtp"), SECURITY_NONE, kTestPassword), 0);
    EXPECT_EQ(Session(digest.Port("smtp"), SECURITY_NONE, kTestPassword, "localhost"), 0);
    EXPECT_EQ(Session(digest.Port("smtp"), SECURITY_NONE, "wrong"), ERR_REPLY_DIGEST_MD5);
    EXPECT_EQ(Traced("AUTH DIGEST-MD5\r\n"), 3U);
    EXPECT_EQ(Traced("235 "), 3U);
}

}  // namespace
