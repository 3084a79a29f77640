// Closing what the owning SQLite handles own.
#include "settings/sqlite_handle.h"

#include <sqlite3.h>

void SqliteCloser::operator()(sqlite3* db) const noexcept {
    sqlite3_close_v2(db);
}

void SqliteFinalizer::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}
