// How the store is read and judged: the reading connection with its folder
// lock, and the health and layout probe.
#include "settings/store_health.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "settings/store_sqlite.h"

namespace {

std::filesystem::path Companion(const std::filesystem::path& file, const char* suffix) {
    std::filesystem::path companion = file;
    companion += suffix;
    return companion;
}

// Whether a reader may use a read-write connection without changing the
// store: it can write the file and its folder (so SQLite can remove the -wal
// and -shm when the last connection closes), no rollback journal is waiting
// to be played back, and no -wal holds anything (a read-write connection
// would fold it into the database, or remove one it cannot use).
bool ReaderMayOpenReadWrite(const std::filesystem::path& file) {
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    struct stat wal {};
    const bool walEmpty =
        lstat(Companion(file, "-wal").c_str(), &wal) == 0 ? wal.st_size == 0 : errno == ENOENT;
    return access(file.c_str(), R_OK | W_OK) == 0 && access(folder.c_str(), W_OK | X_OK) == 0 &&
           !PathExists(Companion(file, "-journal")) && walEmpty;
}

bool IsDamageCode(int rc) {
    return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT;
}

// A failed step: damage when SQLite says so, otherwise an error.
StoreHealth Failure(sqlite3* db, int rc) {
    StoreHealth health;
    health.errorCode = rc & 0xFF;
    health.layout = IsDamageCode(health.errorCode) ? Layout::kDamaged : Layout::kError;
    health.complaint = sqlite3_errmsg(db);
    return health;
}

// Checks the whole file and reads its layout in one read transaction, so
// that both see the same committed state (two separate reads may fall on
// either side of another writer's first commit, and a new store would look
// foreign).
StoreHealth CheckHealth(sqlite3* db) {
    if (!Exec(db, "BEGIN")) {  // deferred: the first read takes the snapshot
        return Failure(db, sqlite3_errcode(db));
    }
    StoreHealth health;
    SqliteStatement check = Prepare(db, "PRAGMA quick_check(1)");
    const int rc = check ? sqlite3_step(check.get()) : sqlite3_errcode(db);
    if (rc != SQLITE_ROW) {
        health = Failure(db, rc);
    } else if (ColumnBytes(check.get(), 0) != "ok") {
        health.layout = Layout::kDamaged;
        health.errorCode = SQLITE_CORRUPT;
        health.complaint = ColumnBytes(check.get(), 0);
    } else {
        check.reset();
        health = ReadLayout(db);
    }
    check.reset();
    Exec(db, "ROLLBACK");  // nothing was written
    return health;
}

}  // namespace

ReadingConnection OpenForReading(const std::filesystem::path& file, StoreClock::TimePoint deadline,
                                 bool folderLocked, StoreClock& clock) {
    ReadingConnection reading;
    if (!folderLocked) {
        reading.folderLock = StoreFolderLock(file, StoreFolderLock::Mode::kShared, deadline, clock);
    }
    if ((folderLocked || reading.folderLock.IsHeld()) && ReaderMayOpenReadWrite(file)) {
        reading.db = OpenConnection(file, SQLITE_OPEN_READWRITE, deadline, clock);
        if (reading.db && Exec(reading.db.get(), "PRAGMA query_only = ON")) {
            return reading;
        }
        reading.db.reset();
    }
    reading.folderLock.Release();
    reading.db = OpenConnection(file, SQLITE_OPEN_READONLY, deadline, clock);
    return reading;
}

StoreHealth ReadLayout(sqlite3* db) {
    StoreHealth health;
    const auto single = [&](std::string_view sql, sqlite3_int64& out) {
        SqliteStatement statement = Prepare(db, sql);
        const int rc = statement ? sqlite3_step(statement.get()) : sqlite3_errcode(db);
        if (rc != SQLITE_ROW) {
            health = Failure(db, rc);
            return false;
        }
        out = sqlite3_column_int64(statement.get(), 0);
        return true;
    };
    sqlite3_int64 version = 0;
    sqlite3_int64 tables = 0;
    sqlite3_int64 ours = 0;
    if (!single("PRAGMA user_version", version) ||
        !single("SELECT count(*) FROM sqlite_master", tables) ||
        !single("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                "name IN ('reg_keys', 'reg_values')",
                ours)) {
        return health;
    }
    health.version = static_cast<int>(version);
    if (version == 0 && tables == 0) {
        health.layout = Layout::kEmpty;
    } else if (version == kLayoutVersion && ours == 2) {
        health.layout = Layout::kOurs;
    } else if (version > kLayoutVersion) {
        health.layout = Layout::kNewer;
    } else {
        health.layout = Layout::kForeign;
    }
    return health;
}

StoreHealth ProbeStore(const std::filesystem::path& file, StoreClock::TimePoint deadline,
                       bool folderLocked, StoreClock& clock) {
    StoreHealth health;
    RetryUntil(clock, deadline, [&] {
        ReadingConnection reading = OpenForReading(file, deadline, folderLocked, clock);
        health = StoreHealth{};
        if (!reading.db) {
            health.errorCode = SQLITE_CANTOPEN;
            health.complaint = "cannot open the file";
        } else {
            health = CheckHealth(reading.db.get());
        }
        // Busy: the connection and the folder lock go (reading's end, in that
        // order) before the pause, so they are not held while waiting.
        return health.layout != Layout::kError || !IsBusy(health.errorCode);
    });
    return health;
}
