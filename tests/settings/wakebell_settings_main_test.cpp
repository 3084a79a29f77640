// Runs the built wakebell-settings program as its users will.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "settings/key_paths.h"
#include "settings/settings_writer.h"
#include "temp_folder.h"

namespace {

class WakebellSettingsTest : public ::testing::Test {
  protected:
    // Runs the program with `options` and the test's store; returns its exit
    // code and keeps what it printed in m_out and m_err.
    int Execute(const std::string& options) {
        const std::string out = m_temp.Path() / "out";
        const std::string err = m_temp.Path() / "err";
        const std::string command = std::string("'") + WAKEBELL_SETTINGS_PROGRAM + "' --db '" +
                                    m_db + "' " + options + " >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        m_out = Slurp(out);
        m_err = Slurp(err);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Slurp(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TempFolder m_temp;
    std::string m_db = m_temp.Path() / "registry.db";
    std::string m_out;
    std::string m_err;
};

TEST_F(WakebellSettingsTest, PrintsStoredSettingsWithThePasswordMasked) {
    RegistryStore store(m_db);
    const ScrambleKey key{2, 1, 4, 6};
    SettingsRecord record;
    record.szTo = "me@example.jp";
    record.password = "Secret-42";
    record.subject = "\x83\x65\x83\x58\x83\x67";
    std::optional<RegistryKey> settings = store.CreateKey(SettingsKeyPath(key));
    ASSERT_TRUE(settings && SetSettingsValues(*settings, record, key) && settings->Close());
    std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
    ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, key) && brand->Close());

    EXPECT_EQ(Execute(""), 0) << m_err;
    EXPECT_NE(m_out.find("\"me@example.jp\""), std::string::npos) << m_out;
    EXPECT_NE(m_out.find("\"テスト\""), std::string::npos);
    EXPECT_EQ(m_out.find("Secret-42"), std::string::npos);
    EXPECT_EQ(Execute("--show-password"), 0);
    EXPECT_NE(m_out.find("\"Secret-42\""), std::string::npos);
}

TEST_F(WakebellSettingsTest, FailsWithAOneLineReason) {
    EXPECT_EQ(Execute(""), 1);
    EXPECT_EQ(m_out, "");
    EXPECT_EQ(std::count(m_err.begin(), m_err.end(), '\n'), 1) << m_err;
    EXPECT_FALSE(std::filesystem::exists(m_db));

    std::ofstream(m_db, std::ios::binary) << std::string(4096, '\x7F');
    EXPECT_EQ(Execute(""), 2);
    EXPECT_EQ(std::count(m_err.begin(), m_err.end(), '\n'), 1) << m_err;
    EXPECT_EQ(Execute("--no-such-option"), 3);
}

}  // namespace
