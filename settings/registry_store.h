// The per-user settings store: keys named by their path, each holding named
// values with a type and data bytes.
//
// Errors in settings/: nothing here throws or prints (only the
// wakebell-settings program's main writes to standard output and error).
// - nullopt means "not there": opening a key or querying a value that fails
//   for any reason (no store file, a damaged or locked file, no such key or
//   value) reports only that.
// - false means "not done": a value not set, a commit that failed and was
//   rolled back, a key already closed.
// - Where people need to know why, a condition comes with a one-line reason
//   in an out-parameter (Examine here, NotifierSettings::problem), for the
//   caller to show.
//
// Key paths and value names compare without regard to ASCII letter case
// ("key1" finds "Key1"); other bytes compare exactly. Paths are raw bytes and
// may hold anything but are never converted to or from UTF-8.
//
// Consistency: every key object works inside its own transaction on its own
// connection to the database (WAL mode, so readers never wait for a writer).
// - A key opened for reading sees one snapshot of the store for its whole
//   life, so the values it returns all come from the same write.
// - A key created or opened for writing holds the store's write lock from
//   creation to Close(); Close() commits every value set through it at once.
//   A writable key destroyed without Close() rolls all of its changes back,
//   as does a crash of the process: readers see the previous set of values
//   or the new one, never a mix. Another writer (in any process) waits for
//   the lock up to StoreOptions::busyTimeout, then its create fails.
//
// Writing also looks after the file: it creates the folder (0700) and the
// database (0600) when missing, tightens looser modes, and moves a damaged
// store aside (see store_files.h) before starting a fresh one. Several
// writers may start at once, on a store that does not exist yet or on a
// damaged one: each waits for the others within the busy time-out, and a
// store is moved aside only when a check made while no other writer can
// move files still finds it damaged, so it is moved once and a sound store
// never.
//
// Reading never creates the folder or the database, changes nothing stored
// and leaves no file behind. SQLite keeps a -wal and a -shm beside the
// database while any connection is open, and whoever closes last removes
// them, a reader too (folding in what a writer committed meanwhile). Only a
// reader that may not write the file or its folder leaves them, empty and at
// the database's mode, for the next writer to remove.
//
// A store object and its keys belong to one thread; other threads and
// processes make their own store object for the same file.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "settings/registry_value.h"
#include "settings/sqlite_handle.h"
#include "settings/store_clock.h"

class StoreFolderLock;

struct StoreOptions {
    // How long creating a key for writing waits for another writer's key to
    // be closed before it gives up (all of a create's waiting counts
    // against it), and how long reading waits for a store that is busy.
    std::chrono::milliseconds busyTimeout{10000};
    // Dates the name a damaged store is moved to; std::time when empty.
    std::function<std::time_t()> clock;
};

// An open key. Movable, not copyable; closed (and, if writable and not yet
// closed, rolled back) when destroyed.
class RegistryKey {
  public:
    RegistryKey(RegistryKey&& other) noexcept = default;
    RegistryKey& operator=(RegistryKey&&) = delete;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // The value stored under `name` (case-insensitive), or nullopt when it is
    // missing, the key is closed or the store cannot be read.
    std::optional<RegistryValue> QueryValue(std::string_view name) const;

    // Creates or replaces the value `name` with `type` and `data` (stored
    // byte for byte, any length). A replaced value keeps the spelling of its
    // name. Returns false on a key opened for reading, a closed key or a
    // store fault; the change becomes visible to others only at Close().
    bool SetValue(std::string_view name, std::uint32_t type, std::string_view data);

    // Ends the key: commits a writable key's changes, releases a reading
    // key's snapshot. Returns false when the commit failed (the changes are
    // then rolled back) or the key was already closed.
    bool Close();

    bool IsOpen() const { return m_db != nullptr; }
    bool IsWritable() const { return m_writable; }

  private:
    friend class RegistryStore;
    RegistryKey(SqliteDb db, std::int64_t id, std::shared_ptr<bool> writerOpen,
                std::shared_ptr<StoreFolderLock> folderLock);

    SqliteDb m_db;
    std::int64_t m_id = 0;
    bool m_writable = false;
    // Shared with the store that made this key; true while it is open for
    // writing, so the store refuses a second writable key at once instead
    // of waiting on its own lock.
    std::shared_ptr<bool> m_writerOpen;
    // Held by a reading key whose connection may remove the -wal and -shm
    // when it closes; released after the connection.
    std::shared_ptr<StoreFolderLock> m_folderLock;
};

enum class StoreCondition {
    kMissing,     // no file, or a database that holds nothing yet
    kReadable,    // a store of this layout that reads back cleanly
    kUnreadable,  // not a database, damaged, another layout, or cannot be opened
};

class RegistryStore {
  public:
    // `waitClock` measures the busy time-out and the store's pauses between
    // attempts (see store_clock.h); SteadyStoreClock() when null.
    explicit RegistryStore(std::filesystem::path databaseFile, StoreOptions options = {},
                           std::shared_ptr<StoreClock> waitClock = nullptr);

    const std::filesystem::path& DatabaseFile() const { return m_file; }

    // Opens the existing key `path` for reading, or nullopt.
    std::optional<RegistryKey> OpenKey(std::string_view path) const;

    // Opens `path` for writing, creating the key (and the store) if needed. The key path keeps the
    // spelling of its first creation. At most one writable key per store object may be open at a
    // time; a second create fails at once. Returns nullopt when the store
    // cannot be written or the lock did not come within the busy time-out.
    std::optional<RegistryKey> CreateKey(std::string_view path);

    // Checks the whole file without changing it. `reason`, when given, gets
    // a one-line explanation for kMissing and kUnreadable.
    StoreCondition Examine(std::string* reason = nullptr) const;

  private:
    enum class OpenResult { kOpened, kDamaged, kFailed };
    OpenResult OpenForWriting(SqliteDb& db, StoreClock::TimePoint deadline) const;
    // True when the store was moved aside, or found sound after all.
    bool MoveAsideIfStillDamaged(StoreClock::TimePoint deadline) const;
    bool MoveAside() const;
    StoreClock& WaitClock() const;

    std::filesystem::path m_file;
    StoreOptions m_options;
    std::shared_ptr<StoreClock> m_waitClock;
    std::shared_ptr<bool> m_writerOpen = std::make_shared<bool>(false);
};

// ASCII letters lowered, every other byte kept: the form in which key paths
// and value names are compared (and stored in the *_folded columns).
std::string FoldRegistryName(std::string_view name);
