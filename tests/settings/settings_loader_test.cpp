#include "settings/settings_loader.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "temp_folder.h"

namespace {

class SettingsLoaderTest : public ::testing::Test {
  protected:
    // Writes the store with plain SQL in the documented layout, as a program
    // on the notifier's side would, without the store code under test.
    void WriteByHand(const std::string& inserts) {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Db().c_str(), &db), SQLITE_OK);
        const std::string sql = R"sql(
            CREATE TABLE reg_keys(id INTEGER PRIMARY KEY, path BLOB NOT NULL,
                                  path_folded BLOB NOT NULL UNIQUE);
            CREATE TABLE reg_values(key_id INTEGER NOT NULL REFERENCES reg_keys(id),
                                    name TEXT NOT NULL, name_folded TEXT NOT NULL,
                                    type INTEGER NOT NULL, data BLOB NOT NULL,
                                    PRIMARY KEY(key_id, name_folded)) WITHOUT ROWID;
            PRAGMA user_version = 1;
            INSERT INTO reg_keys VALUES(1, CAST('Software\KV73' AS BLOB),
                                        CAST('software\kv73' AS BLOB));)sql" +
                                inserts;
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    std::filesystem::path Db() const { return m_temp.Path() / "registry.db"; }
    TempFolder m_temp;
};

TEST_F(SettingsLoaderTest, LoadsAStoreWrittenByHandInTheDocumentedLayout) {
    // Only the low bytes of the parts count: the key is 2, 3, 4, 3, and the
    // settings key is "Wakebell" shifted by it. Mistyped values read as empty.
    WriteByHand(R"sql(
        INSERT INTO reg_values VALUES
            (1, 'Key1', 'key1', 4, X'02010000'), (1, 'Key2', 'key2', 4, X'03FF0000'),
            (1, 'Key3', 'key3', 4, X'04000000'), (1, 'Key4', 'key4', 4, X'03000000');
        INSERT INTO reg_keys VALUES(2, CAST('Software\Ydohdhpo' AS BLOB),
                                    CAST('software\ydohdhpo' AS BLOB));
        INSERT INTO reg_values VALUES
            (2, 'SzTo', 'szto', 1, CAST('ohDd0mt' AS BLOB)),
            (2, 'E-Mail', 'e-mail', 1, CAST('vrDe0mt' AS BLOB)),
            (2, 'Password', 'password', 1, X'000000'),
            (2, 'PowerOn', 'poweron', 4, X'01000000'),
            (2, 'PowerOff', 'poweroff', 4, X'00010000'),
            (2, 'POP', 'pop', 4, X'41000000'), (2, 'Auth', 'auth', 1, X'01');)sql");
    const RegistryStore store(Db());
    EXPECT_EQ(ReadScrambleKey(store), (ScrambleKey{2, 3, 4, 3}));
    const SettingsRecord record = LoadSettingsRecord(store);
    EXPECT_EQ(record.szTo, "me@a.jp");
    EXPECT_EQ(record.eMail, "to@b.jp");
    EXPECT_EQ(record.password, "\xFE\xFD\xFC");  // scrambled zero bytes, the last one too
    EXPECT_EQ(record.smtp, "");
    EXPECT_EQ(record.powerOn, 1);
    EXPECT_EQ(record.powerOff, 0);  // 256 has a low byte of 0
    EXPECT_EQ(record.pop, "");      // a number where a text belongs
    EXPECT_EQ(record.auth, 0);      // and one byte of text where a number does
}

}  // namespace
