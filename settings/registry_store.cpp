// The store's key and value calls: opening and creating keys, reading and
// setting values, closing, and examining the store.
#include "settings/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <limits>
#include <utility>

#include "settings/one_line.h"
#include "settings/store_files.h"
#include "settings/store_health.h"
#include "settings/store_sqlite.h"

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

RegistryStore::RegistryStore(std::filesystem::path databaseFile, StoreOptions options,
                             std::shared_ptr<StoreClock> waitClock)
    : m_file(std::move(databaseFile)),
      m_options(std::move(options)),
      m_waitClock(std::move(waitClock)) {}

StoreClock& RegistryStore::WaitClock() const {
    return m_waitClock ? *m_waitClock : SteadyStoreClock();
}

std::optional<RegistryKey> RegistryStore::OpenKey(std::string_view path) const {
    ReadingConnection reading = OpenForReading(
        m_file, DeadlineAfter(WaitClock(), m_options.busyTimeout), false, WaitClock());
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

std::optional<RegistryKey> RegistryStore::CreateKey(std::string_view path) {
    if (*m_writerOpen || !PrepareStoreFolder(m_file)) {
        return std::nullopt;
    }
    const StoreClock::TimePoint deadline = DeadlineAfter(WaitClock(), m_options.busyTimeout);
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
    const StoreHealth health =
        ProbeStore(m_file, DeadlineAfter(WaitClock(), m_options.busyTimeout), false, WaitClock());
    if (health.layout == Layout::kError && health.errorCode == SQLITE_CANTOPEN &&
        !PathExists(m_file)) {
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
