// The store's files: their location, their private modes, moving a damaged
// store aside, and the folder lock.
#include "settings/store_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
constexpr std::array<const char*, 2> kCompanionSuffixes = {"-wal", "-shm"};

std::filesystem::path HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return home;
    }
    const struct passwd* entry = getpwuid(geteuid());
    if (entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return {};
}

// mkdir applies the umask, which may remove owner bits; chmod settles it.
bool MakePrivateFolder(const std::filesystem::path& folder) {
    if (mkdir(folder.c_str(), kPrivateFolderMode) == 0) {
        return chmod(folder.c_str(), kPrivateFolderMode) == 0;
    }
    if (errno != EEXIST) {
        return false;
    }
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;
    }
    return true;
}

bool SetModeIfDifferent(const std::filesystem::path& file, mode_t mode) {
    struct stat info {};
    if (stat(file.c_str(), &info) != 0) {
        return false;
    }
    if ((info.st_mode & 07777) == mode) {
        return true;
    }
    return chmod(file.c_str(), mode) == 0;
}

std::string DateStamp(std::time_t when) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return "unknown-time";
    }
    std::array<char, 32> text{};
    const std::size_t length = std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%S", &local);
    return std::string(text.data(), length);
}

// rename() would silently replace an existing target; RENAME_NOREPLACE makes
// the kernel refuse instead, so concurrent writers cannot clobber each other.
bool RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A file system without RENAME_NOREPLACE: check first (racy, but the
    // folder is private to its user).
    struct stat info {};
    if (lstat(to.c_str(), &info) == 0 || errno != ENOENT) {
        errno = EEXIST;
        return false;
    }
    return rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool PathExists(const std::filesystem::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

std::filesystem::path DefaultStorePath() {
    std::filesystem::path config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else {
        config = HomeFolder() / ".config";
    }
    return config / kStoreFolderName / "registry.db";
}

bool PrepareStoreFolder(const std::filesystem::path& databaseFile) {
    const std::filesystem::path folder = databaseFile.parent_path();
    if (folder.empty()) {
        return true;  // the current folder; not ours to change
    }
    std::vector<std::filesystem::path> missing;
    for (std::filesystem::path at = folder; !at.empty() && !PathExists(at); at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) {
            break;
        }
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (!MakePrivateFolder(*it)) {
            return false;
        }
    }
    if (folder.filename() == kStoreFolderName) {
        return SetModeIfDifferent(folder, kPrivateFolderMode);
    }
    return true;
}

StoreFileState PrepareStoreFile(const std::filesystem::path& databaseFile) {
    struct stat info {};
    if (stat(databaseFile.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            return StoreFileState::kNotAFile;
        }
    } else {
        const int fd = open(databaseFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kPrivateFileMode);
        if (fd < 0) {
            return errno == EISDIR ? StoreFileState::kNotAFile : StoreFileState::kFailed;
        }
        close(fd);
    }
    if (!SetModeIfDifferent(databaseFile, kPrivateFileMode)) {
        return StoreFileState::kFailed;
    }
    for (const char* suffix : kCompanionSuffixes) {
        std::filesystem::path companion = databaseFile;
        companion += suffix;
        // One may disappear meanwhile: the last connection to close removes both.
        if (PathExists(companion) && !SetModeIfDifferent(companion, kPrivateFileMode) &&
            errno != ENOENT) {
            return StoreFileState::kFailed;
        }
    }
    return StoreFileState::kReady;
}

std::optional<std::filesystem::path> MoveDamagedStoreAside(
    const std::filesystem::path& databaseFile, std::time_t when) {
    const std::string base = databaseFile.string() + ".damaged-" + DateStamp(when);
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
        std::filesystem::path target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        // The companions' names must be free as well, or a stale -wal would
        // stay beside the fresh database.
        bool companionsFree = true;
        for (const char* suffix : kCompanionSuffixes) {
            companionsFree = companionsFree && !PathExists(std::filesystem::path(target) += suffix);
        }
        if (!companionsFree) {
            continue;
        }
        if (!RenameNoReplace(databaseFile, target)) {
            if (errno == EEXIST) {
                continue;
            }
            return std::nullopt;
        }
        for (const char* suffix : kCompanionSuffixes) {
            std::filesystem::path companion = databaseFile;
            companion += suffix;
            if (PathExists(companion) &&
                !RenameNoReplace(companion, std::filesystem::path(target) += suffix)) {
                return std::nullopt;
            }
        }
        return target;
    }
    return std::nullopt;
}

StoreFolderLock::StoreFolderLock(const std::filesystem::path& databaseFile, Mode mode,
                                 StoreClock::TimePoint deadline, StoreClock& clock) {
    const std::filesystem::path folder =
        databaseFile.has_parent_path() ? databaseFile.parent_path() : ".";
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // flock() cannot wait for a limited time; poll without blocking instead.
    // Only a mover excludes others, and only for a check and a few renames.
    const int operation = (mode == Mode::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    bool locked = false;
    RetryUntil(clock, deadline, [&] {
        locked = flock(fd, operation) == 0;
        return locked || (errno != EWOULDBLOCK && errno != EINTR);
    });
    if (!locked) {
        close(fd);
        return;
    }
    m_fd = fd;
}

StoreFolderLock::StoreFolderLock(StoreFolderLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

StoreFolderLock& StoreFolderLock::operator=(StoreFolderLock&& other) noexcept {
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

StoreFolderLock::~StoreFolderLock() {
    Release();
}

void StoreFolderLock::Release() {
    if (m_fd >= 0) {
        close(m_fd);  // closing the only descriptor releases the flock
        m_fd = -1;
    }
}
