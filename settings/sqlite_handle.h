// Owning handles for SQLite connections and prepared statements.
#pragma once

#include <memory>

struct sqlite3;
struct sqlite3_stmt;

struct SqliteCloser {
    void operator()(sqlite3* db) const noexcept;
};

struct SqliteFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept;
};

using SqliteDb = std::unique_ptr<sqlite3, SqliteCloser>;
using SqliteStatement = std::unique_ptr<sqlite3_stmt, SqliteFinalizer>;
