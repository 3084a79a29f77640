#include "settings/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <thread>
#include <utility>

#include "settings/one_line.h"
#include "settings/store_files.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kLayoutVersion = 1;

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

// A null pointer would bind SQL NULL; an empty text or blob needs a real one.
const char* NonNull(std::string_view bytes) {
    return bytes.empty() ? "" : bytes.data();
}

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

// A deadline `timeout` from now; a time-out beyond a day counts as a day.
SteadyClock::time_point DeadlineAfter(std::chrono::milliseconds timeout) {
    constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24);
    return SteadyClock::now() + std::clamp(timeout, std::chrono::milliseconds(0), kLongest);
}

SqliteDb OpenConnection(const std::filesystem::path& file, int flags,
                        SteadyClock::time_point deadline) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteDb db(raw);  // owned even on failure, which still allocates a handle
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    sqlite3_busy_timeout(db.get(), static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    return db;
}

// SQLite answers some lock conflicts at once instead of waiting in its busy
// handler: a connection that holds a read and asks to write (as the switch to
// WAL does on a new file) would otherwise wait for another doing the same.
// Such steps are repeated by the callers until their deadline.
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

bool IsBusy(int rc) {
    const int primary = rc & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// Waits a moment before the next attempt; false once `deadline` has passed.
bool PauseBeforeRetry(SteadyClock::time_point deadline) {
    if (SteadyClock::now() >= deadline) {
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

bool Exists(const std::filesystem::path& file) {
    struct stat info {};
    return lstat(file.c_str(), &info) == 0;
}

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
           !Exists(Companion(file, "-journal")) && walEmpty;
}

// A connection for reading, with the folder lock it needs (see
// StoreFolderLock). SQLite keeps a -wal and a -shm beside a WAL database
// while a connection is open; only a connection that may write removes them
// when it is the last to close, so a read-only one leaves them behind. A
// reader therefore opens read-write when ReaderMayOpenReadWrite allows it,
// with query_only refusing every write, and read-only otherwise.
// `folderLocked`: the caller already holds the folder lock exclusively.
struct ReadingConnection {
    StoreFolderLock folderLock;  // declared first: released after the connection closes
    SqliteDb db;
};

ReadingConnection OpenForReading(const std::filesystem::path& file,
                                 SteadyClock::time_point deadline, bool folderLocked) {
    ReadingConnection reading;
    if (!folderLocked) {
        reading.folderLock = StoreFolderLock(file, StoreFolderLock::Mode::kShared, deadline);
    }
    if ((folderLocked || reading.folderLock.IsHeld()) && ReaderMayOpenReadWrite(file)) {
        reading.db = OpenConnection(file, SQLITE_OPEN_READWRITE, deadline);
        if (reading.db && Exec(reading.db.get(), "PRAGMA query_only = ON")) {
            return reading;
        }
        reading.db.reset();
    }
    reading.folderLock.Release();
    reading.db = OpenConnection(file, SQLITE_OPEN_READONLY, deadline);
    return reading;
}

enum class Layout { kEmpty, kOurs, kNewer, kForeign, kDamaged, kError };

struct StoreHealth {
    Layout layout = Layout::kError;
    int errorCode = SQLITE_OK;  // primary result code when kError
    int version = 0;            // user_version, for kNewer and kForeign
    std::string complaint;      // SQLite's words, for kDamaged and kError
};

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

// The layout, read inside the caller's transaction.
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

// CheckHealth on a fresh reading connection, repeated while the store is busy
// until `deadline`. `folderLocked` as for OpenForReading.
StoreHealth ProbeStore(const std::filesystem::path& file, SteadyClock::time_point deadline,
                       bool folderLocked) {
    while (true) {
        ReadingConnection reading = OpenForReading(file, deadline, folderLocked);
        StoreHealth health;
        if (!reading.db) {
            health.errorCode = SQLITE_CANTOPEN;
            health.complaint = "cannot open the file";
        } else {
            health = CheckHealth(reading.db.get());
        }
        if (health.layout != Layout::kError || !IsBusy(health.errorCode)) {
            return health;
        }
        reading.db.reset();
        reading.folderLock.Release();  // not held while waiting
        if (!PauseBeforeRetry(deadline)) {
            return health;
        }
    }
}

// PRAGMA journal_mode = WAL, repeated while busy until `deadline`.
bool SwitchToWal(sqlite3* db, SteadyClock::time_point deadline) {
    SqliteStatement walMode = Prepare(db, "PRAGMA journal_mode = WAL");
    if (!walMode) {
        return false;
    }
    while (true) {
        const int rc = sqlite3_step(walMode.get());
        if (rc == SQLITE_ROW) {
            return ColumnBytes(walMode.get(), 0) == "wal";
        }
        sqlite3_reset(walMode.get());
        if (!IsBusy(rc) || !PauseBeforeRetry(deadline)) {
            return false;
        }
    }
}

}  // namespace

std::string FoldRegistryName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

RegistryKey::RegistryKey(SqliteDb db, std::int64_t id, std::shared_ptr<bool> writerOpen,
                         std::shared_ptr<StoreFolderLock> folderLock)
    : m_db(std::move(db)),
      m_id(id),
      m_writable(writerOpen != nullptr),
      m_writerOpen(std::move(writerOpen)),
      m_folderLock(std::move(folderLock)) {}

RegistryKey::~RegistryKey() {
    if (m_db) {
        Exec(m_db.get(), "ROLLBACK");
        m_db.reset();
        if (m_writable && m_writerOpen) {
            *m_writerOpen = false;
        }
    }
    m_folderLock.reset();  // only once the connection is closed
}

std::optional<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
    if (!m_db) {
        return std::nullopt;
    }
    SqliteStatement statement = Prepare(
        m_db.get(), "SELECT type, data FROM reg_values WHERE key_id = ?1 AND name_folded = ?2");
    if (!statement || sqlite3_bind_int64(statement.get(), 1, m_id) != SQLITE_OK ||
        !BindText(statement.get(), 2, FoldRegistryName(name)) ||
        sqlite3_step(statement.get()) != SQLITE_ROW) {
        return std::nullopt;
    }
    const sqlite3_int64 type = sqlite3_column_int64(statement.get(), 0);
    if (type < 0 || type > std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return RegistryValue{static_cast<std::uint32_t>(type), ColumnBytes(statement.get(), 1)};
}

bool RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
    if (!m_db || !m_writable) {
        return false;
    }
    SqliteStatement statement = Prepare(m_db.get(),
                                        "INSERT INTO reg_values(key_id, name, name_folded, type, "
                                        "data) VALUES(?1, ?2, ?3, ?4, ?5) "
                                        "ON CONFLICT(key_id, name_folded) DO UPDATE SET "
                                        "type = excluded.type, data = excluded.data");
    return statement && sqlite3_bind_int64(statement.get(), 1, m_id) == SQLITE_OK &&
           BindText(statement.get(), 2, name) &&
           BindText(statement.get(), 3, FoldRegistryName(name)) &&
           sqlite3_bind_int64(statement.get(), 4, type) == SQLITE_OK &&
           BindBlob(statement.get(), 5, data) && sqlite3_step(statement.get()) == SQLITE_DONE;
}

bool RegistryKey::Close() {
    if (!m_db) {
        return false;
    }
    bool committed = Exec(m_db.get(), "COMMIT");
    if (!committed) {
        Exec(m_db.get(), "ROLLBACK");
    }
    m_db.reset();
    m_folderLock.reset();
    if (m_writable && m_writerOpen) {
        *m_writerOpen = false;
    }
    return committed;
}

RegistryStore::RegistryStore(std::filesystem::path databaseFile, StoreOptions options)
    : m_file(std::move(databaseFile)), m_options(std::move(options)) {}

std::optional<RegistryKey> RegistryStore::OpenKey(std::string_view path) const {
    ReadingConnection reading = OpenForReading(m_file, DeadlineAfter(m_options.busyTimeout), false);
    sqlite3* db = reading.db.get();
    // The read transaction begins at the first read below and holds one
    // snapshot until the key is closed.
    if (db == nullptr || !Exec(db, "BEGIN") || ReadLayout(db).layout != Layout::kOurs) {
        return std::nullopt;
    }
    SqliteStatement statement = Prepare(db, "SELECT id FROM reg_keys WHERE path_folded = ?1");
    if (!statement || !BindBlob(statement.get(), 1, FoldRegistryName(path)) ||
        sqlite3_step(statement.get()) != SQLITE_ROW) {
        return std::nullopt;
    }
    const sqlite3_int64 id = sqlite3_column_int64(statement.get(), 0);
    statement.reset();
    std::shared_ptr<StoreFolderLock> folderLock;
    if (reading.folderLock.IsHeld()) {
        folderLock = std::make_shared<StoreFolderLock>(std::move(reading.folderLock));
    }
    return RegistryKey(std::move(reading.db), id, nullptr, std::move(folderLock));
}

RegistryStore::OpenResult RegistryStore::OpenForWriting(
    SqliteDb& db, std::chrono::steady_clock::time_point deadline) const {
    // The check reads as any reader does, so it never touches a -wal that
    // holds anything: a damaged store's -wal goes aside with the rest.
    StoreHealth health;
    while (true) {
        const StoreFileState state = PrepareStoreFile(m_file);
        if (state == StoreFileState::kNotAFile) {
            return OpenResult::kDamaged;
        }
        const std::optional<FileIdentity> found = IdentityOf(m_file);
        if (state == StoreFileState::kReady) {
            health = ProbeStore(m_file, deadline, false);
            if (health.layout != Layout::kError || health.errorCode != SQLITE_CANTOPEN) {
                break;
            }
        }
        // Gone, or replaced: another writer moved a damaged store aside after
        // this one created or found the file, and may have begun a fresh
        // store since. Start again on what is there now. The same file still
        // there is a store that cannot be opened.
        const std::optional<FileIdentity> now = IdentityOf(m_file);
        if ((now && now == found) || !PauseBeforeRetry(deadline)) {
            return OpenResult::kFailed;
        }
    }
    switch (health.layout) {
        case Layout::kEmpty:
        case Layout::kOurs: break;
        case Layout::kForeign:
        case Layout::kDamaged: return OpenResult::kDamaged;
        case Layout::kNewer:  // not ours to rewrite
        case Layout::kError: return OpenResult::kFailed;
    }
    db = OpenConnection(m_file, SQLITE_OPEN_READWRITE, deadline);
    if (!db || !SwitchToWal(db.get(), deadline) || !Exec(db.get(), "PRAGMA synchronous = FULL")) {
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

bool RegistryStore::MoveAsideIfStillDamaged(std::chrono::steady_clock::time_point deadline) const {
    const StoreFolderLock lock(m_file, StoreFolderLock::Mode::kExclusive, deadline);
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
    switch (ProbeStore(m_file, deadline, true).layout) {
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

std::optional<RegistryKey> RegistryStore::CreateKey(std::string_view path) {
    if (*m_writerOpen || !PrepareStoreFolder(m_file)) {
        return std::nullopt;
    }
    const auto deadline = DeadlineAfter(m_options.busyTimeout);
    SqliteDb db;
    OpenResult opened = OpenForWriting(db, deadline);
    if (opened == OpenResult::kDamaged) {
        db.reset();
        if (!MoveAsideIfStillDamaged(deadline)) {
            return std::nullopt;
        }
        opened = OpenForWriting(db, deadline);
    }
    if (opened != OpenResult::kOpened || !Exec(db.get(), "BEGIN IMMEDIATE")) {
        return std::nullopt;
    }
    const std::string folded = FoldRegistryName(path);
    SqliteStatement insert = Prepare(db.get(),
                                     "INSERT INTO reg_keys(path, path_folded) VALUES(?1, ?2) "
                                     "ON CONFLICT(path_folded) DO NOTHING");
    SqliteStatement select = Prepare(db.get(), "SELECT id FROM reg_keys WHERE path_folded = ?1");
    if (!insert || !BindBlob(insert.get(), 1, path) || !BindBlob(insert.get(), 2, folded) ||
        sqlite3_step(insert.get()) != SQLITE_DONE || !select ||
        !BindBlob(select.get(), 1, folded) || sqlite3_step(select.get()) != SQLITE_ROW) {
        Exec(db.get(), "ROLLBACK");
        return std::nullopt;
    }
    const sqlite3_int64 id = sqlite3_column_int64(select.get(), 0);
    insert.reset();
    select.reset();
    *m_writerOpen = true;
    return RegistryKey(std::move(db), id, m_writerOpen, nullptr);
}

StoreCondition RegistryStore::Examine(std::string* reason) const {
    const auto report = [&](StoreCondition condition, const std::string& why) {
        if (reason != nullptr) {
            *reason = OneLine(why);
        }
        return condition;
    };
    const std::string name = m_file.string();
    struct stat info {};
    if (stat(m_file.c_str(), &info) != 0) {
        return report(StoreCondition::kMissing, "no settings store at " + name);
    }
    if (!S_ISREG(info.st_mode)) {
        return report(StoreCondition::kUnreadable, name + " is not a regular file");
    }
    const StoreHealth health = ProbeStore(m_file, DeadlineAfter(m_options.busyTimeout), false);
    if (health.layout == Layout::kError && health.errorCode == SQLITE_CANTOPEN && !Exists(m_file)) {
        // Moved aside by a writer since the stat above.
        return report(StoreCondition::kMissing, "no settings store at " + name);
    }
    switch (health.layout) {
        case Layout::kEmpty:
            return report(StoreCondition::kMissing, "the settings store " + name + " is empty");
        case Layout::kOurs: return report(StoreCondition::kReadable, {});
        case Layout::kNewer:
        case Layout::kForeign:
            return report(StoreCondition::kUnreadable, name + " has an unknown layout (version " +
                                                           std::to_string(health.version) + ")");
        case Layout::kDamaged:
        case Layout::kError: break;
    }
    return report(StoreCondition::kUnreadable, name + ": " + health.complaint);
}
