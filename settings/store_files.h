// The files of the store: where they live, how they are kept private, and how
// a damaged store is set aside.
//
// The store holds the mail password (scrambled, which is no protection), so
// its folder is kept at mode 0700 and the database with its -wal and -shm
// companions at 0600 whatever the umask. Only the writing side creates,
// changes or moves files; readers take no more than the folder lock below.
#pragma once

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>

#include "settings/store_clock.h"

// The folder name the store owns; only a folder of this name is ever
// tightened, so a store placed directly in a shared folder (for example
// --db /tmp/x.db) never changes that folder's mode.
inline constexpr const char* kStoreFolderName = "wakebell";

// $XDG_CONFIG_HOME/wakebell/registry.db, or ~/.config/wakebell/registry.db
// when the variable is unset, empty or not an absolute path (the XDG rule).
// The home folder is $HOME, else the password database's entry. Pure lookup;
// creates nothing.
std::filesystem::path DefaultStorePath();

// Whether anything is at `path` (a dangling symbolic link counts).
bool PathExists(const std::filesystem::path& path);

// Creates the folders leading to `databaseFile` that are missing, each with
// mode 0700, and sets the store's own folder (named kStoreFolderName) to 0700
// if it is anything else. Returns false when a folder cannot be created or
// the store's folder cannot be made private.
bool PrepareStoreFolder(const std::filesystem::path& databaseFile);

enum class StoreFileState {
    kReady,     // a regular file, mode 0600, with -wal/-shm (if any) at 0600
    kNotAFile,  // something other than a regular file is in the way
    kFailed,    // cannot be created or made private
};

// Creates `databaseFile` empty with mode 0600 if it is missing, and sets it
// and its existing -wal and -shm files to 0600.
StoreFileState PrepareStoreFile(const std::filesystem::path& databaseFile);

// Renames the damaged store and its -wal and -shm files (those that exist) to
// "<file>.damaged-YYYYMMDD-HHMMSS" (local time of `when`) plus the same
// suffixes, adding "-2", "-3"... when that name is taken. Nothing is deleted
// or overwritten. Returns the new name of the main file, or nullopt when it
// could not be moved (the caller must then not start a fresh store, since a
// stale -wal left beside a new database would be replayed into it).
std::optional<std::filesystem::path> MoveDamagedStoreAside(
    const std::filesystem::path& databaseFile, std::time_t when);

// An advisory lock (flock) on the folder that holds the store, which stays
// put while the store's files are renamed. A writer holds it exclusively
// while it checks a damaged store once more and moves it aside; a reader
// whose connection may remove the -wal and -shm on closing holds it shared
// for as long as that connection is open. So no file is moved while a
// connection that deletes companions by name is open on it, and two writers
// never both move what they each found damaged.
class StoreFolderLock {
  public:
    enum class Mode { kShared, kExclusive };

    // Not held.
    StoreFolderLock() = default;
    // Waits for the lock on the folder of `databaseFile` until `deadline` on
    // `clock`. Not held when the folder cannot be opened or locked, or the
    // deadline passed.
    StoreFolderLock(const std::filesystem::path& databaseFile, Mode mode,
                    StoreClock::TimePoint deadline, StoreClock& clock = SteadyStoreClock());
    StoreFolderLock(StoreFolderLock&& other) noexcept;
    StoreFolderLock& operator=(StoreFolderLock&& other) noexcept;
    StoreFolderLock(const StoreFolderLock&) = delete;
    StoreFolderLock& operator=(const StoreFolderLock&) = delete;
    ~StoreFolderLock();

    bool IsHeld() const { return m_fd >= 0; }
    // Releases the lock now (also done when destroyed).
    void Release();

  private:
    int m_fd = -1;
};
