// How a writer opens the store: the file made ready, checked and switched to
// WAL, a damaged store moved aside under the folder lock, and starting again
// when another writer replaced the file meanwhile.
#include <sqlite3.h>
#include <sys/stat.h>

#include <optional>

#include "settings/registry_store.h"
#include "settings/store_files.h"
#include "settings/store_health.h"
#include "settings/store_sqlite.h"

namespace {

// Key paths are BLOBs so that scrambled, non-UTF-8 bytes survive untouched;
// value names are ASCII words and stay TEXT for readers' convenience. The
// *_folded columns hold FoldRegistryName() of the name and carry the lookups.
constexpr const char* kCreateLayout = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id          INTEGER PRIMARY KEY,
    path        BLOB NOT NULL,
    path_folded BLOB NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS reg_values(
    key_id      INTEGER NOT NULL REFERENCES reg_keys(id),
    name        TEXT NOT NULL,
    name_folded TEXT NOT NULL,
    type        INTEGER NOT NULL,
    data        BLOB NOT NULL,
    PRIMARY KEY(key_id, name_folded)) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";
static_assert(kLayoutVersion == 1, "kCreateLayout sets user_version to the layout's version");

// Which file a path names (device and inode): tells a store moved aside
// and made anew from the same store met twice.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& file) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{info.st_dev, info.st_ino};
}

// PRAGMA journal_mode = WAL, repeated while busy until `deadline`.
bool SwitchToWal(sqlite3* db, StoreClock::TimePoint deadline, StoreClock& clock) {
    SqliteStatement walMode = Prepare(db, "PRAGMA journal_mode = WAL");
    if (!walMode) {
        return false;
    }
    bool switched = false;
    RetryUntil(clock, deadline, [&] {
        const int rc = sqlite3_step(walMode.get());
        if (rc == SQLITE_ROW) {
            switched = ColumnBytes(walMode.get(), 0) == "wal";
            return true;
        }
        sqlite3_reset(walMode.get());
        return !IsBusy(rc);
    });
    return switched;
}

}  // namespace

RegistryStore::OpenResult RegistryStore::OpenForWriting(SqliteDb& db,
                                                        StoreClock::TimePoint deadline) const {
    StoreClock& clock = WaitClock();
    // The check reads as any reader does, so it never touches a -wal that
    // holds anything: a damaged store's -wal goes aside with the rest.
    StoreHealth health;
    std::optional<OpenResult> early;
    const bool probed = RetryUntil(clock, deadline, [&] {
        const StoreFileState state = PrepareStoreFile(m_file);
        if (state == StoreFileState::kNotAFile) {
            early = OpenResult::kDamaged;
            return true;
        }
        const std::optional<FileIdentity> found = IdentityOf(m_file);
        if (state == StoreFileState::kReady) {
            health = ProbeStore(m_file, deadline, false, clock);
            if (health.layout != Layout::kError || health.errorCode != SQLITE_CANTOPEN) {
                return true;
            }
        }
        // Gone, or replaced: another writer moved a damaged store aside after
        // this one created or found the file, and may have begun a fresh
        // store since. Start again on what is there now. The same file still
        // there is a store that cannot be opened.
        const std::optional<FileIdentity> now = IdentityOf(m_file);
        if (now && now == found) {
            early = OpenResult::kFailed;
            return true;
        }
        return false;
    });
    if (early) {
        return *early;
    }
    if (!probed) {
        return OpenResult::kFailed;
    }
    switch (health.layout) {
        case Layout::kEmpty:
        case Layout::kOurs: break;
        case Layout::kForeign:
        case Layout::kDamaged: return OpenResult::kDamaged;
        case Layout::kNewer:  // not ours to rewrite
        case Layout::kError: return OpenResult::kFailed;
    }
    db = OpenConnection(m_file, SQLITE_OPEN_READWRITE, deadline, clock);
    if (!db || !SwitchToWal(db.get(), deadline, clock) ||
        !Exec(db.get(), "PRAGMA synchronous = FULL")) {
        return OpenResult::kFailed;
    }
    if (health.layout == Layout::kEmpty) {
        // IF NOT EXISTS: another writer may have laid it out meanwhile.
        if (!Exec(db.get(), "BEGIN IMMEDIATE")) {
            return OpenResult::kFailed;
        }
        if (!Exec(db.get(), kCreateLayout) || !Exec(db.get(), "COMMIT")) {
            Exec(db.get(), "ROLLBACK");
            return OpenResult::kFailed;
        }
    }
    // The -wal and -shm files now exist; SQLite gives them the database's
    // mode, but ones left by an older writer may be looser.
    if (PrepareStoreFile(m_file) != StoreFileState::kReady) {
        return OpenResult::kFailed;
    }
    return OpenResult::kOpened;
}

bool RegistryStore::MoveAsideIfStillDamaged(StoreClock::TimePoint deadline) const {
    StoreClock& clock = WaitClock();
    const StoreFolderLock lock(m_file, StoreFolderLock::Mode::kExclusive, deadline, clock);
    if (!lock.IsHeld()) {
        return false;
    }
    // Under the lock no other writer moves the store, and no reader has a
    // connection open that could remove a -wal or -shm by name once the store
    // is gone. A damaged store is never written, so what this check finds
    // stays true until the rename; another writer may have moved it aside and
    // started a fresh store meanwhile, which is then simply used.
    switch (PrepareStoreFile(m_file)) {
        case StoreFileState::kReady: break;
        case StoreFileState::kNotAFile: return MoveAside();
        case StoreFileState::kFailed: return false;
    }
    switch (ProbeStore(m_file, deadline, true, clock).layout) {
        case Layout::kEmpty:
        case Layout::kOurs: return true;
        case Layout::kForeign:
        case Layout::kDamaged: return MoveAside();
        case Layout::kNewer:
        case Layout::kError: return false;
    }
    return false;
}

bool RegistryStore::MoveAside() const {
    const std::time_t now = m_options.clock ? m_options.clock() : std::time(nullptr);
    return MoveDamagedStoreAside(m_file, now).has_value();
}
