// Writes a store with plain SQL in the documented layout, the way another
// program (the notifier's side) would see and make it, bypassing the store
// code under test.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

class HandWrittenStore {
  public:
    explicit HandWrittenStore(const std::filesystem::path& file) {
        EXPECT_EQ(sqlite3_open(file.c_str(), &m_db), SQLITE_OK);
        Exec(R"sql(
            PRAGMA journal_mode = WAL;
            CREATE TABLE reg_keys(id INTEGER PRIMARY KEY, path BLOB NOT NULL,
                                  path_folded BLOB NOT NULL UNIQUE);
            CREATE TABLE reg_values(key_id INTEGER NOT NULL REFERENCES reg_keys(id),
                                    name TEXT NOT NULL, name_folded TEXT NOT NULL,
                                    type INTEGER NOT NULL, data BLOB NOT NULL,
                                    PRIMARY KEY(key_id, name_folded)) WITHOUT ROWID;
            PRAGMA user_version = 1;)sql");
    }
    ~HandWrittenStore() { sqlite3_close(m_db); }
    HandWrittenStore(const HandWrittenStore&) = delete;
    HandWrittenStore& operator=(const HandWrittenStore&) = delete;

    // Adds key `path` (any bytes) and returns its id. `folded` is the path
    // with ASCII letters lowered, as the layout asks for.
    std::int64_t AddKey(std::string_view path, std::string_view folded) {
        sqlite3_stmt* s = Prepare("INSERT INTO reg_keys(path, path_folded) VALUES(?, ?)");
        sqlite3_bind_blob(s, 1, path.data(), static_cast<int>(path.size()), SQLITE_TRANSIENT);
        sqlite3_bind_blob(s, 2, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
        sqlite3_finalize(s);
        return sqlite3_last_insert_rowid(m_db);
    }

    void AddValue(std::int64_t key, std::string_view name, std::string_view folded, int type,
                  std::string_view data) {
        sqlite3_stmt* s = Prepare(
            "INSERT INTO reg_values(key_id, name, name_folded, type, data) VALUES(?,?,?,?,?)");
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_text(s, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 3, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 4, type);
        sqlite3_bind_blob(s, 5, data.empty() ? "" : data.data(), static_cast<int>(data.size()),
                          SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
        sqlite3_finalize(s);
    }

    void Exec(const char* sql) {
        EXPECT_EQ(sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(m_db);
    }

  private:
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr), SQLITE_OK)
            << sqlite3_errmsg(m_db);
        return s;
    }

    sqlite3* m_db = nullptr;
};

// Four little-endian bytes.
inline std::string Le32(std::uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>(static_cast<unsigned char>((v >> (8 * i)) & 0xFFu));
    }
    return out;
}
