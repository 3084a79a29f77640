#include "settings/settings_loader.h"

#include <gtest/gtest.h>

#include "hand_written_store.h"
#include "settings/key_paths.h"
#include "temp_folder.h"

namespace {

constexpr int kSz = 1;
constexpr int kDword = 4;

class SettingsLoaderTest : public ::testing::Test {
  protected:
    std::filesystem::path Db() const { return m_temp.Path() / "registry.db"; }
    TempFolder m_temp;
};

TEST_F(SettingsLoaderTest, LoadsAStoreWrittenByHandInTheDocumentedLayout) {
    {
        HandWrittenStore sql(Db());
        // Parts with high bytes set: only the low byte counts (2, 3, 4, 3).
        const auto brand = sql.AddKey("Software\\KV73", "software\\kv73");
        sql.AddValue(brand, "Key1", "key1", kDword, Le32(0x0102));
        sql.AddValue(brand, "Key2", "key2", kDword, Le32(0xFF03));
        sql.AddValue(brand, "Key3", "key3", kDword, Le32(4));
        sql.AddValue(brand, "Key4", "key4", kDword, Le32(3));
        // "Ydohdhpo" is "Wakebell" shifted by 2, 3, 4, 3, 2, 3, 4, 3.
        const auto settings = sql.AddKey("Software\\Ydohdhpo", "software\\ydohdhpo");
        // "me@a.jp" and "to@b.jp" shifted by hand.
        sql.AddValue(settings, "SzTo", "szto", kSz, "ohDd0mt");
        sql.AddValue(settings, "E-Mail", "e-mail", kSz, "vrDe0mt");
        // Scrambled bytes of 0, the last one too, belong to the text.
        sql.AddValue(settings, "Password", "password", kSz, std::string("\0\0\0", 3));
        sql.AddValue(settings, "PowerOn", "poweron", kDword, Le32(1));
        sql.AddValue(settings, "PowerOff", "poweroff", kDword, Le32(256));
        sql.AddValue(settings, "SSL", "ssl", kDword, Le32(0x0101));
        sql.AddValue(settings, "CONFIG_ERR", "config_err", kDword, Le32(0));
    }
    const RegistryStore store(Db());
    EXPECT_EQ(ReadScrambleKey(store), (ScrambleKey{2, 3, 4, 3}));
    const SettingsRecord record = LoadSettingsRecord(store);
    EXPECT_EQ(record.szTo, "me@a.jp");
    EXPECT_EQ(record.eMail, "to@b.jp");
    EXPECT_EQ(record.password, "\xFE\xFD\xFC");
    EXPECT_EQ(record.smtp, "");
    EXPECT_EQ(record.powerOn, 1);
    EXPECT_EQ(record.powerOff, 0);  // 256: low byte 0
    EXPECT_EQ(record.ssl, 1);
    EXPECT_EQ(record.auth, 0);  // missing
}

TEST_F(SettingsLoaderTest, MissingOrMistypedKeyPartsCountAsZero) {
    {
        HandWrittenStore sql(Db());
        const auto brand = sql.AddKey("Software\\KV73", "software\\kv73");
        sql.AddValue(brand, "Key2", "key2", kDword, Le32(3));
        sql.AddValue(brand, "Key3", "key3", kSz, "\x04\0\0\0");  // text, not a number
        // With parts 0, 3, 0, 0 only the second and sixth bytes move.
        const auto settings = sql.AddKey("Software\\Wdkebhll", "software\\wdkebhll");
        sql.AddValue(settings, "SzTo", "szto", kSz, "adbc");
    }
    const RegistryStore store(Db());
    EXPECT_EQ(ReadScrambleKey(store), (ScrambleKey{0, 3, 0, 0}));
    EXPECT_EQ(LoadSettingsRecord(store).szTo, "aabc");
}

TEST_F(SettingsLoaderTest, ValuesOfTheWrongTypeLoadEmptyOrZero) {
    {
        HandWrittenStore sql(Db());
        sql.AddKey("Software\\KV73", "software\\kv73");
        const auto settings = sql.AddKey("Software\\Wakebell", "software\\wakebell");
        sql.AddValue(settings, "SzTo", "szto", kDword, Le32(0x41));
        sql.AddValue(settings, "SMTP", "smtp", kSz, "smtp.example.jp");
        sql.AddValue(settings, "PowerOn", "poweron", kSz, "\x01");
        sql.AddValue(settings, "AUTH", "auth", kDword, "");
    }
    const SettingsRecord record = LoadSettingsRecord(RegistryStore(Db()));
    EXPECT_EQ(record.szTo, "");
    EXPECT_EQ(record.smtp, "smtp.example.jp");
    EXPECT_EQ(record.powerOn, 0);
    EXPECT_EQ(record.auth, 0);
}

TEST_F(SettingsLoaderTest, SettingsKeyWithoutBrandKeyLoadsNothing) {
    {
        HandWrittenStore sql(Db());
        // What a declined first test leaves: a settings key, no brand key.
        const auto settings = sql.AddKey("Software\\Wakebell", "software\\wakebell");
        sql.AddValue(settings, "SzTo", "szto", kSz, "me@a.jp");
    }
    const RegistryStore store(Db());
    EXPECT_FALSE(ReadScrambleKey(store));
    EXPECT_EQ(LoadSettingsRecord(store), SettingsRecord{});
}

}  // namespace
