#include "settings/notifier_reader.h"

#include <gtest/gtest.h>

#include "settings/key_paths.h"
#include "settings/settings_writer.h"
#include "temp_folder.h"

namespace {

class NotifierReaderTest : public ::testing::Test {
  protected:
    // A register press: CONFIG_ERR and SzTo, and the brand key on success.
    void Register(std::uint32_t configErr, const std::string& szTo, bool withBrandKey) {
        std::optional<RegistryKey> settings = m_store.CreateKey(SettingsKeyPath(m_key));
        ASSERT_TRUE(settings && SetDwordValue(*settings, kConfigErrName, configErr) &&
                    SetTextValue(*settings, "SzTo", szTo, m_key) && settings->Close());
        if (withBrandKey) {
            std::optional<RegistryKey> brand = m_store.CreateKey(kBrandKeyPath);
            ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, m_key) && brand->Close());
        }
    }

    TempFolder m_temp;
    RegistryStore m_store{m_temp.Path() / "registry.db"};
    ScrambleKey m_key{1, 3, 0, 5};
};

TEST_F(NotifierReaderTest, UsableOnlyWithBrandKeyAndOwnAddress) {
    EXPECT_EQ(ReadNotifierSettings(m_store).condition, StoreCondition::kMissing);

    Register(1, "me@example.jp", false);  // a declined first test
    NotifierSettings read = ReadNotifierSettings(m_store);
    EXPECT_EQ(read.condition, StoreCondition::kReadable);
    EXPECT_FALSE(read.usable);
    EXPECT_NE(read.problem.find("brand key"), std::string::npos);

    Register(1, "me@example.jp", true);
    read = ReadNotifierSettings(m_store);
    EXPECT_TRUE(read.usable && read.record.szTo == "me@example.jp" && read.configErr == 1);

    Register(0, "", true);
    read = ReadNotifierSettings(m_store);
    EXPECT_FALSE(read.usable);
    EXPECT_EQ(read.configErr, 0);
    EXPECT_NE(read.problem.find("SzTo"), std::string::npos);
}

}  // namespace
