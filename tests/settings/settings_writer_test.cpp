#include "settings/settings_writer.h"

#include <gtest/gtest.h>

#include "settings/key_paths.h"
#include "settings/settings_loader.h"
#include "temp_folder.h"

namespace {

class SettingsWriterTest : public ::testing::Test {
  protected:
    // Writes `record` the way the register flow does: settings key, then
    // the brand key.
    void Register(const SettingsRecord& record, const ScrambleKey& key) {
        std::optional<RegistryKey> settings = m_store.CreateKey(SettingsKeyPath(key));
        ASSERT_TRUE(settings);
        ASSERT_TRUE(SetDwordValue(*settings, kConfigErrName, 0));
        ASSERT_TRUE(SetSettingsValues(*settings, record, key));
        ASSERT_TRUE(settings->Close());
        std::optional<RegistryKey> brand = m_store.CreateKey(kBrandKeyPath);
        ASSERT_TRUE(brand);
        ASSERT_TRUE(SetScrambleKeyValues(*brand, key));
        ASSERT_TRUE(brand->Close());
    }

    std::optional<RegistryValue> Stored(const ScrambleKey& key, std::string_view name) const {
        std::optional<RegistryKey> settings = m_store.OpenKey(SettingsKeyPath(key));
        return settings ? settings->QueryValue(name) : std::nullopt;
    }

    TempFolder m_temp;
    RegistryStore m_store{m_temp.Path() / "wakebell" / "registry.db"};
};

SettingsRecord FullRecord() {
    SettingsRecord r;
    r.szTo = "me@example.jp";
    r.smtp = "smtp.example.jp";
    r.pop = "pop.example.jp";
    r.account = "me";
    r.password = "pas\xFAs\xFE";  // bytes that wrap, one to 0
    r.smtpPortNo = "465";
    r.popPortNo = "995";
    r.eMail = "me@example.jp";
    r.user = "\x91\x53\xDB\xB8\xDE\xB5\xDD";  // Shift_JIS, half-width kana
    r.subject = std::string(300, 'S');        // longer than the old 260-byte buffer
    r.subject2 = "";
    r.powerOn = 1;
    r.ssl = 1;
    return r;
}

TEST_F(SettingsWriterTest, WhatIsWrittenLoadsBackUnchanged) {
    const ScrambleKey key{2, 3, 4, 6};
    const SettingsRecord record = FullRecord();
    Register(record, key);
    EXPECT_EQ(LoadSettingsRecord(m_store), record);
    // 0xFA + 6 wraps to 0 and 0xFE + 3 to 1; the stored text keeps its length.
    EXPECT_EQ(Stored(key, "Password"), (RegistryValue{REG_SZ, std::string("rdw\0u\x01", 6)}));
}

TEST_F(SettingsWriterTest, StoredFormFollowsTheLayout) {
    const ScrambleKey key{1, 2, 3, 4};
    SettingsRecord record = FullRecord();
    record.powerOff = 0x1234;
    Register(record, key);
    // Same text, same scrambled bytes; an empty field is an empty REG_SZ.
    EXPECT_EQ(Stored(key, "SzTo"), Stored(key, "E-Mail"));
    EXPECT_EQ(Stored(key, "Subject2"), (RegistryValue{REG_SZ, ""}));
    EXPECT_EQ(Stored(key, "PowerOff"), (RegistryValue{REG_DWORD, std::string("\x34\x12\0\0", 4)}));
    EXPECT_EQ(Stored(key, "CONFIG_ERR"), (RegistryValue{REG_DWORD, std::string(4, '\0')}));
    std::optional<RegistryKey> brand = m_store.OpenKey(kBrandKeyPath);
    ASSERT_TRUE(brand);
    EXPECT_EQ(brand->QueryValue("Key4"), (RegistryValue{REG_DWORD, std::string("\x04\0\0\0", 4)}));
    // A state counts by its low byte when loaded again.
    EXPECT_EQ(LoadSettingsRecord(m_store).powerOff, 0x34);
}

TEST_F(SettingsWriterTest, AllZeroKeyStoresTextsAsTypedUnderThePlainProductName) {
    Register(FullRecord(), ScrambleKey{});
    std::optional<RegistryKey> settings = m_store.OpenKey("Software\\Wakebell");
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->QueryValue("SMTP"), (RegistryValue{REG_SZ, "smtp.example.jp"}));
}

}  // namespace
