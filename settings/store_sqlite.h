// The SQLite calls the store is made of: statements, bindings, columns and
// opening a connection. Private to settings/.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "settings/sqlite_handle.h"
#include "settings/store_clock.h"

// Runs `sql` (one or more statements, no results); true when all succeeded.
bool Exec(sqlite3* db, const char* sql);

// The prepared statement, or null when `sql` does not prepare.
SqliteStatement Prepare(sqlite3* db, std::string_view sql);

// Bind `bytes` as a BLOB / `text` as UTF-8 TEXT (copied); an empty one binds
// an empty value, never NULL. True on success.
bool BindBlob(sqlite3_stmt* statement, int index, std::string_view bytes);
bool BindText(sqlite3_stmt* statement, int index, std::string_view text);

// Column `column` of the current row as bytes; empty for NULL or no bytes.
std::string ColumnBytes(sqlite3_stmt* statement, int column);

// A connection to `file` opened with `flags` (SQLITE_OPEN_*); SQLite's own
// busy wait gets what is left of `deadline` on `clock`. Null when it cannot
// be opened.
SqliteDb OpenConnection(const std::filesystem::path& file, int flags,
                        StoreClock::TimePoint deadline, StoreClock& clock);

// Whether `rc` (a primary or extended result code) says another connection
// holds the lock asked for. SQLite answers some lock conflicts at once
// instead of waiting in its busy handler: a connection that holds a read and
// asks to write (as the switch to WAL does on a new file) would otherwise
// wait for another doing the same. Such steps are repeated by the callers
// until their deadline (RetryUntil).
bool IsBusy(int rc);
