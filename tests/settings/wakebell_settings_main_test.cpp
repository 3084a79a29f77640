// Runs the built wakebell-settings program as its users will.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "settings/key_paths.h"
#include "settings/settings_writer.h"
#include "temp_folder.h"

namespace {

class WakebellSettingsTest : public ::testing::Test {
  protected:
    // Runs the program on the test's store; returns its exit code and keeps
    // its output in m_out, its standard error in m_error and the lines there.
    int Execute(const std::string& options) {
        const std::string out = m_temp.Path() / "out";
        const std::string command = std::string("'") + WAKEBELL_SETTINGS_PROGRAM + "' --db '" +
                                    m_db + "' " + options + " >'" + out + "' 2>'" + out + ".err'";
        const int status = std::system(command.c_str());
        std::ifstream in(out, std::ios::binary);
        m_out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::ifstream err(out + ".err", std::ios::binary);
        m_error.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
        m_errorLines = std::count(m_error.begin(), m_error.end(), '\n');
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempFolder m_temp;
    std::string m_db = m_temp.Path() / "registry.db";
    std::string m_out;
    std::string m_error;
    std::ptrdiff_t m_errorLines = 0;
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

    EXPECT_EQ(Execute(""), 0);
    EXPECT_NE(m_out.find("\"me@example.jp\""), std::string::npos) << m_out;
    EXPECT_NE(m_out.find("\"テスト\""), std::string::npos);
    EXPECT_EQ(m_out.find("Secret-42"), std::string::npos);
    EXPECT_EQ(Execute("--show-password"), 0);
    EXPECT_NE(m_out.find("\"Secret-42\""), std::string::npos);
}

TEST_F(WakebellSettingsTest, FailsWithAOneLineReason) {
    EXPECT_EQ(Execute(""), 1);  // no store
    EXPECT_EQ(m_out, "");
    EXPECT_EQ(m_errorLines, 1);
    EXPECT_FALSE(std::filesystem::exists(m_db));
    std::ofstream(m_db, std::ios::binary) << std::string(4096, '\x7F');
    EXPECT_EQ(Execute(""), 2);  // a damaged one
    EXPECT_EQ(m_errorLines, 1);
    EXPECT_EQ(Execute("--no-such-option"), 3);

    // Cut in the middle of its last page, SQLite's complaint spans two lines.
    std::filesystem::remove(m_db);
    {
        RegistryStore store(m_db);
        std::optional<RegistryKey> key = store.CreateKey(kBrandKeyPath);
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(key->SetValue("V" + std::to_string(i), REG_SZ, std::string(500, 'v')));
        }
        ASSERT_TRUE(key->Close());  // the last connection folds the WAL into the file
    }
    std::filesystem::resize_file(m_db, std::filesystem::file_size(m_db) - 2048);
    EXPECT_EQ(Execute(""), 2);
    EXPECT_EQ(m_errorLines, 1) << m_error;
}

}  // namespace
