#include "settings/notifier_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/key_paths.h"
#include "settings/settings_writer.h"
#include "temp_folder.h"

namespace {

class NotifierReaderTest : public ::testing::Test {
  protected:
    // The register flow's writes: CONFIG_ERR, then (on success) the texts
    // and the brand key.
    void Register(std::uint32_t configErr, const std::string& szTo, bool withBrandKey) {
        std::optional<RegistryKey> settings = m_store.CreateKey(SettingsKeyPath(m_key));
        ASSERT_TRUE(settings);
        ASSERT_TRUE(SetDwordValue(*settings, kConfigErrName, configErr));
        ASSERT_TRUE(SetTextValue(*settings, "SzTo", szTo, m_key));
        ASSERT_TRUE(settings->Close());
        if (withBrandKey) {
            std::optional<RegistryKey> brand = m_store.CreateKey(kBrandKeyPath);
            ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, m_key) && brand->Close());
        }
    }

    TempFolder m_temp;
    RegistryStore m_store{m_temp.Path() / "registry.db"};
    ScrambleKey m_key{1, 3, 0, 5};
};

TEST_F(NotifierReaderTest, RegisteredStoreIsUsableWithItsTestResult) {
    Register(1, "me@example.jp", true);
    const NotifierSettings read = ReadNotifierSettings(m_store);
    EXPECT_TRUE(read.usable);
    EXPECT_EQ(read.problem, "");
    EXPECT_EQ(read.record.szTo, "me@example.jp");
    EXPECT_EQ(read.scrambleKey, m_key);
    EXPECT_EQ(read.configErr, 1);
}

TEST_F(NotifierReaderTest, NothingUsableIsSaidWithAReason) {
    EXPECT_EQ(ReadNotifierSettings(m_store).condition, StoreCondition::kMissing);

    Register(1, "me@example.jp", false);  // a declined first test: no brand key
    NotifierSettings read = ReadNotifierSettings(m_store);
    EXPECT_EQ(read.condition, StoreCondition::kReadable);
    EXPECT_FALSE(read.usable);
    EXPECT_NE(read.problem.find("brand key"), std::string::npos);

    Register(0, "", true);
    read = ReadNotifierSettings(m_store);
    EXPECT_FALSE(read.usable);
    EXPECT_EQ(read.record, SettingsRecord{});
    EXPECT_NE(read.problem.find("SzTo"), std::string::npos);
}

TEST_F(NotifierReaderTest, DamagedStoreIsUnreadable) {
    std::ofstream(m_store.DatabaseFile(), std::ios::binary) << "not a database at all";
    const NotifierSettings read = ReadNotifierSettings(m_store);
    EXPECT_EQ(read.condition, StoreCondition::kUnreadable);
    EXPECT_FALSE(read.usable);
    EXPECT_FALSE(read.problem.empty());
}

}  // namespace
