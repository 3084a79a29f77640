// Throwaway certificates for the TLS tests, made with the openssl command by
// servers/make_test_certs.sh in a private folder that goes with the object:
//   ca.pem                         the test CA, for SSL_CERT_FILE
//   server.pem/.key                127.0.0.1 and localhost, from the test CA
//   other-host.pem/.key            only mail.example.test, from the test CA
//   rogue.pem/.key, rogue-ca.pem   127.0.0.1 and localhost, from an unknown CA
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/settings/temp_folder.h"
#include "tests/smtp/child_process.h"

class TestCertificates {
  public:
    TestCertificates() {
        if (m_folder.Path().empty() ||
            !RunToEnd({"/bin/sh", WAKEBELL_MAKE_TEST_CERTS, m_folder.Path()})) {
            throw std::runtime_error("the test certificates could not be made");
        }
    }

    std::string File(std::string_view name) const { return m_folder.Path() / name; }

  private:
    TempFolder m_folder;
};

// Points SSL_CERT_FILE, which the client's trust store honours, at caFile
// while alive, and restores what was there.
class ScopedTrust {
  public:
    explicit ScopedTrust(const std::string& caFile) {
        if (const char* old = std::getenv("SSL_CERT_FILE")) {
            m_saved = old;
            m_hadValue = true;
        }
        setenv("SSL_CERT_FILE", caFile.c_str(), 1);
    }
    ~ScopedTrust() {
        if (m_hadValue) {
            setenv("SSL_CERT_FILE", m_saved.c_str(), 1);
        } else {
            unsetenv("SSL_CERT_FILE");
        }
    }
    ScopedTrust(const ScopedTrust&) = delete;
    ScopedTrust& operator=(const ScopedTrust&) = delete;

  private:
    std::string m_saved;
    bool m_hadValue = false;
};
