#include "settings/settings_writer.h"

#include <gtest/gtest.h>

#include "settings/key_paths.h"
#include "settings/settings_loader.h"
#include "temp_folder.h"

namespace {

class SettingsWriterTest : public ::testing::Test {
  protected:
    // What a successful register press writes: settings key, then brand key.
    void Register(const ScrambleKey& key) {
        std::optional<RegistryKey> settings = m_store.CreateKey(SettingsKeyPath(key));
        ASSERT_TRUE(settings && SetDwordValue(*settings, kConfigErrName, 0) &&
                    SetSettingsValues(*settings, m_record, key) && settings->Close());
        std::optional<RegistryKey> brand = m_store.CreateKey(kBrandKeyPath);
        ASSERT_TRUE(brand && SetScrambleKeyValues(*brand, key) && brand->Close());
    }
    std::optional<RegistryValue> Stored(const std::string& path, std::string_view name) const {
        std::optional<RegistryKey> key = m_store.OpenKey(path);
        return key ? key->QueryValue(name) : std::nullopt;
    }

    TempFolder m_temp;
    RegistryStore m_store{m_temp.Path() / "registry.db"};
    SettingsRecord m_record{"me@example.jp",
                            "smtp.example.jp",
                            "pop.example.jp",
                            "me",
                            "pas\xFAs\xFE",  // wraps, 0xFA + 6 to a zero byte
                            "465",
                            "995",
                            "me@example.jp",
                            "\x91\x53\xDB\xB8\xDE\xB5\xDD",  // Shift_JIS and half-width kana
                            std::string(300, 'S'),           // beyond the old 260-byte buffer
                            "",
                            1,
                            0x1234,
                            1,
                            0};
};

TEST_F(SettingsWriterTest, WhatIsWrittenLoadsBackAndFollowsTheLayout) {
    const ScrambleKey key{2, 3, 4, 6};
    Register(key);
    SettingsRecord expected = m_record;
    expected.powerOff = 0x34;  // only the low byte counts when loaded
    EXPECT_EQ(LoadSettingsRecord(m_store), expected);

    const std::string path = SettingsKeyPath(key);
    EXPECT_EQ(Stored(path, "Password"), (RegistryValue{REG_SZ, std::string("rdw\0u\x01", 6)}));
    EXPECT_EQ(Stored(path, "SzTo"), Stored(path, "E-Mail"));  // same text, same bytes
    EXPECT_EQ(Stored(path, "Subject2"), (RegistryValue{REG_SZ, ""}));
    EXPECT_EQ(Stored(path, "PowerOff"), (RegistryValue{REG_DWORD, std::string("\x34\x12\0\0", 4)}));
    EXPECT_EQ(Stored(std::string(kBrandKeyPath), "Key4"),
              (RegistryValue{REG_DWORD, std::string("\x06\0\0\0", 4)}));
}

TEST_F(SettingsWriterTest, AllZeroKeyStoresTextsAsTypedUnderThePlainProductName) {
    Register(ScrambleKey{});
    EXPECT_EQ(Stored("Software\\Wakebell", "SMTP"), (RegistryValue{REG_SZ, "smtp.example.jp"}));
}

}  // namespace
