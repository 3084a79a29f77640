// The SQLite calls the store is made of: statements, bindings, columns and
// opening a connection.
#include "settings/store_sqlite.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

SqliteStatement Prepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    if (sql.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
            SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    return SqliteStatement(raw);
}

namespace {

// A null pointer would bind SQL NULL; an empty text or blob needs a real one.
const char* NonNull(std::string_view bytes) {
    return bytes.empty() ? "" : bytes.data();
}

}  // namespace

bool BindBlob(sqlite3_stmt* statement, int index, std::string_view bytes) {
    return sqlite3_bind_blob64(statement, index, NonNull(bytes), bytes.size(), SQLITE_TRANSIENT) ==
           SQLITE_OK;
}

bool BindText(sqlite3_stmt* statement, int index, std::string_view text) {
    return sqlite3_bind_text64(statement, index, NonNull(text), text.size(), SQLITE_TRANSIENT,
                               SQLITE_UTF8) == SQLITE_OK;
}

std::string ColumnBytes(sqlite3_stmt* statement, int column) {
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    if (bytes == nullptr || size <= 0) {
        return {};
    }
    return std::string(static_cast<const char*>(bytes), static_cast<std::size_t>(size));
}

SqliteDb OpenConnection(const std::filesystem::path& file, int flags,
                        StoreClock::TimePoint deadline, StoreClock& clock) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteDb db(raw);  // owned even on failure, which still allocates a handle
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock.Now());
    sqlite3_busy_timeout(db.get(), static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    return db;
}

bool IsBusy(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}
