#include "settings/store_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

#include "settings/registry_store.h"
#include "settings/settings_loader.h"
#include "temp_folder.h"

namespace {

mode_t ModeOf(const std::filesystem::path& file) {
    struct stat info {};
    EXPECT_EQ(stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 07777;
}

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

// Sets the process umask for one scope.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : m_previous(umask(mask)) {}
    ~ScopedUmask() { umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

  private:
    mode_t m_previous;
};

// 2026-12-08 06:41:00 local time.
std::time_t FixedTime() {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 8;
    local.tm_hour = 6;
    local.tm_min = 41;
    local.tm_isdst = -1;
    return std::mktime(&local);
}

class StoreFilesTest : public ::testing::Test {
  protected:
    std::filesystem::path Folder() const { return m_temp.Path() / "config" / "wakebell"; }
    std::filesystem::path Db() const { return Folder() / "registry.db"; }
    std::filesystem::path Companion(const char* suffix) const {
        return std::filesystem::path(Db()) += suffix;
    }
    RegistryStore Store() const { return RegistryStore(Db(), StoreOptions{{}, FixedTime}); }

    static bool Write(RegistryStore& store, std::string_view text) {
        std::optional<RegistryKey> key = store.CreateKey("Software\\KV73");
        return key && key->SetValue("Note", REG_SZ, text) && key->Close();
    }

    TempFolder m_temp;
};

TEST_F(StoreFilesTest, DefaultPathFollowsXdgConfigHome) {
    const std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", "/x/conf", 1);
    EXPECT_EQ(DefaultStorePath(), "/x/conf/wakebell/registry.db");
    setenv("XDG_CONFIG_HOME", "", 1);
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(DefaultStorePath(), "/home/u/.config/wakebell/registry.db");
    setenv("XDG_CONFIG_HOME", "relative/conf", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultStorePath(), "/home/u/.config/wakebell/registry.db");
    setenv("HOME", savedHome.c_str(), 1);
    if (saved != nullptr) {
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST_F(StoreFilesTest, FilesArePrivateWhateverTheUmask) {
    const ScopedUmask open(0);
    RegistryStore store = Store();
    std::optional<RegistryKey> key = store.CreateKey("Software\\KV73");
    ASSERT_TRUE(key);
    EXPECT_EQ(ModeOf(m_temp.Path() / "config"), 0700u);
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    EXPECT_EQ(ModeOf(Db()), 0600u);
    EXPECT_EQ(ModeOf(Companion("-wal")), 0600u);
    EXPECT_EQ(ModeOf(Companion("-shm")), 0600u);
}

TEST_F(StoreFilesTest, LooserModesAreTightenedWhenOpenedForWritingOnly) {
    RegistryStore store = Store();
    ASSERT_TRUE(Write(store, "x"));
    // While a reader stays connected, closing the writer keeps -wal and -shm.
    std::optional<RegistryKey> writing = store.CreateKey("Software\\KV73");
    const RegistryStore other(Db());
    std::optional<RegistryKey> reading = other.OpenKey("Software\\KV73");
    ASSERT_TRUE(writing && reading);
    ASSERT_TRUE(writing->Close());
    for (const auto& file : {Db(), Companion("-wal"), Companion("-shm")}) {
        ASSERT_EQ(chmod(file.c_str(), 0644), 0);
    }
    ASSERT_EQ(chmod(Folder().c_str(), 0755), 0);

    EXPECT_TRUE(store.OpenKey("Software\\KV73"));
    EXPECT_EQ(ModeOf(Db()), 0644u);

    EXPECT_TRUE(Write(store, "x"));
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    for (const auto& file : {Db(), Companion("-wal"), Companion("-shm")}) {
        EXPECT_EQ(ModeOf(file), 0600u) << file;
    }
}

TEST_F(StoreFilesTest, SharedFolderOfAnExplicitPathIsLeftAlone) {
    ASSERT_EQ(chmod(m_temp.Path().c_str(), 0755), 0);
    RegistryStore store(m_temp.Path() / "x.db");
    EXPECT_TRUE(Write(store, "x"));
    EXPECT_EQ(ModeOf(m_temp.Path()), 0755u);
    EXPECT_EQ(ModeOf(m_temp.Path() / "x.db"), 0600u);
}

TEST_F(StoreFilesTest, GarbageStoreLoadsEmptyAndIsMovedAsideOnFirstWrite) {
    std::filesystem::create_directories(Folder());
    const std::string garbage(5000, '\x5A');
    WriteFile(Db(), garbage);
    WriteFile(Companion("-wal"), "stale wal");
    RegistryStore store = Store();
    EXPECT_EQ(LoadSettingsRecord(store), SettingsRecord{});
    EXPECT_EQ(store.Examine(), StoreCondition::kUnreadable);
    EXPECT_EQ(Contents(Db()), garbage);  // reading changed nothing

    // An earlier damaged copy with the same date must not be overwritten.
    const std::filesystem::path taken = Folder() / "registry.db.damaged-20261208-064100";
    WriteFile(taken, "earlier");
    ASSERT_TRUE(Write(store, "fresh"));
    EXPECT_EQ(Contents(taken), "earlier");
    const std::filesystem::path aside = Folder() / "registry.db.damaged-20261208-064100-2";
    EXPECT_EQ(Contents(aside), garbage);
    EXPECT_EQ(Contents(std::filesystem::path(aside) += "-wal"), "stale wal");
    EXPECT_EQ(store.Examine(), StoreCondition::kReadable);
}

TEST_F(StoreFilesTest, TruncatedStoreLoadsEmptyAndIsMovedAsideOnFirstWrite) {
    {
        RegistryStore store = Store();
        std::optional<RegistryKey> key = store.CreateKey("Software\\KV73");
        ASSERT_TRUE(key);
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(key->SetValue("V" + std::to_string(i), REG_SZ, std::string(500, 'v')));
        }
        ASSERT_TRUE(key->Close());
    }  // the last connection checkpoints the WAL into the file
    ASSERT_FALSE(std::filesystem::exists(Companion("-wal")));
    const std::string whole = Contents(Db());
    ASSERT_GT(whole.size(), 3 * 4096u);
    const std::string cut = whole.substr(0, whole.size() / 2);
    WriteFile(Db(), cut);

    RegistryStore store = Store();
    EXPECT_EQ(store.Examine(), StoreCondition::kUnreadable);
    ASSERT_TRUE(Write(store, "fresh"));
    EXPECT_EQ(Contents(Folder() / "registry.db.damaged-20261208-064100"), cut);
    std::optional<RegistryKey> key = store.OpenKey("software\\kv73");
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->QueryValue("V0"));
    EXPECT_EQ(key->QueryValue("Note"), (RegistryValue{REG_SZ, "fresh"}));
}

TEST_F(StoreFilesTest, FolderInPlaceOfTheFileIsMovedAsideWithItsContents) {
    std::filesystem::create_directories(Db());
    WriteFile(Db() / "inside", "kept");
    RegistryStore store = Store();
    EXPECT_EQ(LoadSettingsRecord(store), SettingsRecord{});
    ASSERT_TRUE(Write(store, "fresh"));
    EXPECT_EQ(Contents(Folder() / "registry.db.damaged-20261208-064100" / "inside"), "kept");
}

}  // namespace
