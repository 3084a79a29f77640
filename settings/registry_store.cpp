#include "settings/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <limits>
#include <utility>

#include "settings/store_files.h"

namespace {

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

SqliteDb OpenConnection(const std::filesystem::path& file, int flags,
                        std::chrono::milliseconds busyTimeout) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    SqliteDb db(raw);  // owned even on failure, which still allocates a handle
    if (rc != SQLITE_OK) {
        return nullptr;
    }
    const auto timeout = busyTimeout.count();
    sqlite3_busy_timeout(db.get(), timeout > std::numeric_limits<int>::max()
                                       ? std::numeric_limits<int>::max()
                                       : static_cast<int>(timeout < 0 ? 0 : timeout));
    return db;
}

enum class Layout { kEmpty, kOurs, kNewer, kForeign, kError };

struct LayoutCheck {
    Layout layout = Layout::kError;
    int errorCode = SQLITE_OK;  // primary result code when kError
    int version = 0;
};

LayoutCheck CheckLayout(sqlite3* db) {
    LayoutCheck check;
    const auto single = [&](std::string_view sql, sqlite3_int64& out) {
        SqliteStatement statement = Prepare(db, sql);
        const int rc = statement ? sqlite3_step(statement.get()) : sqlite3_errcode(db);
        if (rc != SQLITE_ROW) {
            check.errorCode = rc & 0xFF;
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
        return check;
    }
    check.version = static_cast<int>(version);
    if (version == 0 && tables == 0) {
        check.layout = Layout::kEmpty;
    } else if (version == kLayoutVersion && ours == 2) {
        check.layout = Layout::kOurs;
    } else if (version > kLayoutVersion) {
        check.layout = Layout::kNewer;
    } else {
        check.layout = Layout::kForeign;
    }
    return check;
}

bool IsDamageCode(int rc) {
    return rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT;
}

// Returns SQLITE_OK and "ok", a failing result code, or SQLITE_CORRUPT with
// the first complaint of the check.
int QuickCheck(sqlite3* db, std::string& complaint) {
    SqliteStatement statement = Prepare(db, "PRAGMA quick_check(1)");
    if (!statement) {
        complaint = sqlite3_errmsg(db);
        return sqlite3_errcode(db) & 0xFF;
    }
    const int rc = sqlite3_step(statement.get());
    if (rc != SQLITE_ROW) {
        complaint = sqlite3_errmsg(db);
        return rc & 0xFF;
    }
    complaint = ColumnBytes(statement.get(), 0);
    return complaint == "ok" ? SQLITE_OK : SQLITE_CORRUPT;
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

RegistryKey::RegistryKey(SqliteDb db, std::int64_t id, std::shared_ptr<bool> writerOpen)
    : m_db(std::move(db)),
      m_id(id),
      m_writable(writerOpen != nullptr),
      m_writerOpen(std::move(writerOpen)) {}

RegistryKey::~RegistryKey() {
    if (m_db) {
        Exec(m_db.get(), "ROLLBACK");
        m_db.reset();
        if (m_writable && m_writerOpen) {
            *m_writerOpen = false;
        }
    }
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
    if (m_writable && m_writerOpen) {
        *m_writerOpen = false;
    }
    return committed;
}

RegistryStore::RegistryStore(std::filesystem::path databaseFile, StoreOptions options)
    : m_file(std::move(databaseFile)), m_options(std::move(options)) {}

std::optional<RegistryKey> RegistryStore::OpenKey(std::string_view path) const {
    SqliteDb db = OpenConnection(m_file, SQLITE_OPEN_READONLY, m_options.busyTimeout);
    // The read transaction begins at the first read below and holds one
    // snapshot until the key is closed.
    if (!db || !Exec(db.get(), "BEGIN") || CheckLayout(db.get()).layout != Layout::kOurs) {
        return std::nullopt;
    }
    SqliteStatement statement = Prepare(db.get(), "SELECT id FROM reg_keys WHERE path_folded = ?1");
    if (!statement || !BindBlob(statement.get(), 1, FoldRegistryName(path)) ||
        sqlite3_step(statement.get()) != SQLITE_ROW) {
        return std::nullopt;
    }
    const sqlite3_int64 id = sqlite3_column_int64(statement.get(), 0);
    statement.reset();
    return RegistryKey(std::move(db), id, nullptr);
}

RegistryStore::OpenResult RegistryStore::OpenForWriting(SqliteDb& db) const {
    switch (PrepareStoreFile(m_file)) {
        case StoreFileState::kReady: break;
        case StoreFileState::kNotAFile: return OpenResult::kDamaged;
        case StoreFileState::kFailed: return OpenResult::kFailed;
    }
    // The health check runs on a read-only connection: a read-write one would
    // reset a -wal file it cannot use, and that file goes aside with the rest.
    LayoutCheck check;
    {
        SqliteDb probe = OpenConnection(m_file, SQLITE_OPEN_READONLY, m_options.busyTimeout);
        if (!probe) {
            return OpenResult::kFailed;
        }
        std::string complaint;
        const int rc = QuickCheck(probe.get(), complaint);
        if (rc != SQLITE_OK) {
            return IsDamageCode(rc) ? OpenResult::kDamaged : OpenResult::kFailed;
        }
        check = CheckLayout(probe.get());
    }
    switch (check.layout) {
        case Layout::kEmpty:
        case Layout::kOurs: break;
        case Layout::kForeign: return OpenResult::kDamaged;
        case Layout::kNewer: return OpenResult::kFailed;  // not ours to rewrite
        case Layout::kError:
            return IsDamageCode(check.errorCode) ? OpenResult::kDamaged : OpenResult::kFailed;
    }
    db = OpenConnection(m_file, SQLITE_OPEN_READWRITE, m_options.busyTimeout);
    if (!db) {
        return OpenResult::kFailed;
    }

    SqliteStatement walMode = Prepare(db.get(), "PRAGMA journal_mode = WAL");
    if (!walMode || sqlite3_step(walMode.get()) != SQLITE_ROW ||
        ColumnBytes(walMode.get(), 0) != "wal") {
        return OpenResult::kFailed;
    }
    walMode.reset();
    if (!Exec(db.get(), "PRAGMA synchronous = FULL")) {
        return OpenResult::kFailed;
    }
    if (check.layout == Layout::kEmpty) {
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

std::optional<RegistryKey> RegistryStore::CreateKey(std::string_view path) {
    if (*m_writerOpen || !PrepareStoreFolder(m_file)) {
        return std::nullopt;
    }
    SqliteDb db;
    OpenResult opened = OpenForWriting(db);
    if (opened == OpenResult::kDamaged) {
        db.reset();
        const std::time_t now = m_options.clock ? m_options.clock() : std::time(nullptr);
        if (!MoveDamagedStoreAside(m_file, now)) {
            return std::nullopt;
        }
        opened = OpenForWriting(db);
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
    return RegistryKey(std::move(db), id, m_writerOpen);
}

StoreCondition RegistryStore::Examine(std::string* reason) const {
    const auto report = [&](StoreCondition condition, const std::string& why) {
        if (reason != nullptr) {
            *reason = why;
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
    SqliteDb db = OpenConnection(m_file, SQLITE_OPEN_READONLY, m_options.busyTimeout);
    if (!db) {
        return report(StoreCondition::kUnreadable, "cannot open " + name);
    }
    std::string complaint;
    if (QuickCheck(db.get(), complaint) != SQLITE_OK) {
        return report(StoreCondition::kUnreadable, name + ": " + complaint);
    }
    const LayoutCheck check = CheckLayout(db.get());
    switch (check.layout) {
        case Layout::kEmpty:
            return report(StoreCondition::kMissing, "the settings store " + name + " is empty");
        case Layout::kOurs: return report(StoreCondition::kReadable, {});
        case Layout::kNewer:
        case Layout::kForeign:
            return report(StoreCondition::kUnreadable, name + " has an unknown layout (version " +
                                                           std::to_string(check.version) + ")");
        case Layout::kError: break;
    }
    return report(StoreCondition::kUnreadable, name + ": " + sqlite3_errmsg(db.get()));
}
