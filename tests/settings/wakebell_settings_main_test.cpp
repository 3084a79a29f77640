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

struct ProgramRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

class WakebellSettingsTest : public ::testing::Test {
  protected:
    std::filesystem::path Db() const { return m_temp.Path() / "registry.db"; }

    ProgramRun Execute(const std::string& arguments) const {
        const auto outFile = m_temp.Path() / "out";
        const auto errFile = m_temp.Path() / "err";
        const std::string command = std::string("'") + WAKEBELL_SETTINGS_PROGRAM + "' " +
                                    arguments + " >'" + outFile.string() + "' 2>'" +
                                    errFile.string() + "'";
        const int status = std::system(command.c_str());
        ProgramRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = Slurp(outFile);
        run.err = Slurp(errFile);
        return run;
    }

    static std::string Slurp(const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void Register() {
        RegistryStore store(Db());
        const ScrambleKey key{2, 1, 4, 6};
        SettingsRecord record;
        record.szTo = "me@example.jp";
        record.password = "Secret-42";
        record.subject = "\x83\x65\x83\x58\x83\x67";
        std::optional<RegistryKey> settings = store.CreateKey(SettingsKeyPath(key));
        ASSERT_TRUE(settings && SetSettingsValues(*settings, record, key) &&
                    SetDwordValue(*settings, kConfigErrName, 0) && settings->Close());
        std::optional<RegistryKey> brand = store.CreateKey(kBrandKeyPath);
        ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, key) && brand->Close());
    }

    std::string DbArgument() const { return "--db '" + Db().string() + "'"; }

    TempFolder m_temp;
};

TEST_F(WakebellSettingsTest, PrintsStoredSettingsWithThePasswordMasked) {
    Register();
    ProgramRun run = Execute(DbArgument());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("me@example.jp"), std::string::npos);
    EXPECT_NE(run.out.find("テスト"), std::string::npos);
    EXPECT_NE(run.out.find("CONFIG_ERR:  0"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Secret-42"), std::string::npos);

    run = Execute(DbArgument() + " --show-password");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Secret-42"), std::string::npos);
}

TEST_F(WakebellSettingsTest, FailsWithOneLineReason) {
    ProgramRun run = Execute(DbArgument());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(Db()));

    std::ofstream(Db(), std::ios::binary) << std::string(4096, '\x7F');
    run = Execute(DbArgument());
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;

    EXPECT_EQ(Execute("--no-such-option").exitCode, 3);
}

}  // namespace
