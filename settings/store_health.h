// How the store is read and judged: the reading connection with its folder
// lock, and the health and layout probe. Private to settings/.
#pragma once

#include <filesystem>
#include <string>

#include "settings/sqlite_handle.h"
#include "settings/store_clock.h"
#include "settings/store_files.h"

inline constexpr int kLayoutVersion = 1;

// A connection for reading, with the folder lock it needs (see
// StoreFolderLock). SQLite keeps a -wal and a -shm beside a WAL database
// while a connection is open; only a connection that may write removes them
// when it is the last to close, so a read-only one leaves them behind. A
// reader therefore opens read-write when it may (it can write the file and
// its folder, no rollback journal waits to be played back, no -wal holds
// anything), with query_only refusing every write, and read-only otherwise.
struct ReadingConnection {
    StoreFolderLock folderLock;  // declared first: released after the connection closes
    SqliteDb db;
};

// `folderLocked`: the caller already holds the folder lock exclusively. The
// folder lock and the busy wait last until `deadline` on `clock`; `db` is
// null when the file cannot be opened.
ReadingConnection OpenForReading(const std::filesystem::path& file, StoreClock::TimePoint deadline,
                                 bool folderLocked, StoreClock& clock);

enum class Layout { kEmpty, kOurs, kNewer, kForeign, kDamaged, kError };

struct StoreHealth {
    Layout layout = Layout::kError;
    int errorCode = 0;      // SQLite's primary result code when kError
    int version = 0;        // user_version, for kNewer and kForeign
    std::string complaint;  // SQLite's words, for kDamaged and kError
};

// The layout, read inside the caller's transaction.
StoreHealth ReadLayout(sqlite3* db);

// The whole file checked and its layout read on a fresh reading connection,
// repeated while the store is busy until `deadline` on `clock`. A file that
// cannot be opened is kError with SQLITE_CANTOPEN. `folderLocked` as for
// OpenForReading.
StoreHealth ProbeStore(const std::filesystem::path& file, StoreClock::TimePoint deadline,
                       bool folderLocked, StoreClock& clock);
