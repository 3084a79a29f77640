// Throwaway certificates for the TLS tests, made with the openssl command by
// servers/make_test_certs.sh in a private folder that goes with the object:
//   ca.pem                         the test CA
//   server.pem/.key                127.0.0.1 and localhost, from the test CA
//   other-host.pem/.key            only mail.example.test, from the test CA
//   providers.pem/.key             the big providers' host names, from the test CA
//   rogue.pem/.key, rogue-ca.pem   127.0.0.1 and localhost, from an unknown CA
// Making them points SSL_CERT_FILE, which the client's trust store honours,
// at the test CA for the rest of the test program.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/settings/temp_folder.h"

class TestCertificates {
  public:
    TestCertificates() {
        const std::string command = std::string("/bin/sh '") + WAKEBELL_MAKE_TEST_CERTS + "' '" +
                                    m_folder.Path().string() + "'";
        if (m_folder.Path().empty() || std::system(command.c_str()) != 0) {
            throw std::runtime_error("the test certificates could not be made");
        }
        setenv("SSL_CERT_FILE", File("ca.pem").c_str(), 1);
    }

    std::string File(std::string_view name) const { return m_folder.Path() / name; }

  private:
    TempFolder m_folder;
};
