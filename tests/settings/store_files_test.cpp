#include "settings/store_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "settings/notifier_reader.h"
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

// 2026-12-08 06:41:00 local time: damaged files go to "*.damaged-20261208-064100".
std::time_t FixedClock() {
    std::tm local{0, 41, 6, 8, 11, 2026 - 1900, 0, 0, -1, 0, nullptr};
    return std::mktime(&local);
}

class StoreFilesTest : public ::testing::Test {
  protected:
    std::set<std::string> FilesInFolder() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    std::filesystem::path Folder() const { return m_temp.Path() / "config" / "wakebell"; }
    std::filesystem::path Db(const char* suffix = "") const {
        return Folder() / (std::string("registry.db") + suffix);
    }
    bool Write(RegistryStore& store) {
        std::optional<RegistryKey> key = store.CreateKey("Software\\KV73");
        return key && key->SetValue("Note", REG_SZ, "fresh") && key->Close();
    }

    TempFolder m_temp;
    RegistryStore m_store{Db(), StoreOptions{{}, FixedClock}};
};

// Under ctest each test runs in a process of its own, so the variables set
// here reach no other test.
TEST_F(StoreFilesTest, DefaultPathFollowsXdgConfigHomeWhenAbsolute) {
    setenv("HOME", "/home/u", 1);
    setenv("XDG_CONFIG_HOME", "/x/conf", 1);
    EXPECT_EQ(DefaultStorePath(), "/x/conf/wakebell/registry.db");
    for (const char* ignored : {"", "conf"}) {
        setenv("XDG_CONFIG_HOME", ignored, 1);
        EXPECT_EQ(DefaultStorePath(), "/home/u/.config/wakebell/registry.db");
    }
}

TEST_F(StoreFilesTest, FilesArePrivateWhateverTheUmaskAndTightenedOnlyForWriting) {
    // A second connection keeps -wal and -shm when the writer closes.
    const mode_t previous = umask(0);
    ASSERT_TRUE(Write(m_store));
    std::optional<RegistryKey> writing = m_store.CreateKey("Software\\KV73");
    const RegistryStore other(Db());
    std::optional<RegistryKey> reading = other.OpenKey("Software\\KV73");
    umask(previous);
    ASSERT_TRUE(writing && reading);
    EXPECT_EQ(ModeOf(m_temp.Path() / "config"), 0700u);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        EXPECT_EQ(ModeOf(Db(suffix)), 0600u) << suffix;
    }
    ASSERT_TRUE(writing->Close());
    for (const char* suffix : {"", "-wal", "-shm"}) {
        ASSERT_EQ(chmod(Db(suffix).c_str(), 0644), 0);
    }
    ASSERT_EQ(chmod(Folder().c_str(), 0755), 0);

    EXPECT_TRUE(m_store.OpenKey("Software\\KV73"));
    EXPECT_EQ(ModeOf(Db()), 0644u);  // reading changes nothing
    ASSERT_TRUE(Write(m_store));
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    for (const char* suffix : {"", "-wal", "-shm"}) {
        EXPECT_EQ(ModeOf(Db(suffix)), 0600u) << suffix;
    }

    // A folder the store does not own (here, one named by --db) keeps its mode.
    ASSERT_EQ(chmod(m_temp.Path().c_str(), 0755), 0);
    RegistryStore elsewhere(m_temp.Path() / "x.db");
    ASSERT_TRUE(Write(elsewhere));
    EXPECT_EQ(ModeOf(m_temp.Path()), 0755u);
}

TEST_F(StoreFilesTest, GarbageLoadsEmptyAndIsMovedAsideOnFirstWriteWithoutClobbering) {
    std::filesystem::create_directories(Folder());
    const std::string garbage(5000, 'Z');
    std::ofstream(Db(), std::ios::binary) << garbage;
    std::ofstream(Db("-wal"), std::ios::binary) << "stale wal";
    std::ofstream(Db(".damaged-20261208-064100"), std::ios::binary) << "earlier";
    EXPECT_EQ(LoadSettingsRecord(m_store), SettingsRecord{});
    EXPECT_EQ(m_store.Examine(), StoreCondition::kUnreadable);

    ASSERT_TRUE(Write(m_store));
    EXPECT_EQ(Contents(Db(".damaged-20261208-064100")), "earlier");
    EXPECT_EQ(Contents(Db(".damaged-20261208-064100-2")), garbage);
    EXPECT_EQ(Contents(Db(".damaged-20261208-064100-2-wal")), "stale wal");
    EXPECT_EQ(m_store.Examine(), StoreCondition::kReadable);
}

TEST_F(StoreFilesTest, TruncatedStoreIsMovedAsideOnFirstWrite) {
    std::optional<RegistryKey> key = m_store.CreateKey("Software\\KV73");
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(key->SetValue("V" + std::to_string(i), REG_SZ, std::string(500, 'v')));
    }
    ASSERT_TRUE(key->Close());  // the last connection folds the WAL into the file
    const std::string whole = Contents(Db());
    ASSERT_GT(whole.size(), 3 * 4096u);
    const std::string cut = whole.substr(0, whole.size() / 2);
    std::ofstream(Db(), std::ios::binary | std::ios::trunc) << cut;

    EXPECT_EQ(m_store.Examine(), StoreCondition::kUnreadable);
    ASSERT_TRUE(Write(m_store));
    EXPECT_EQ(Contents(Db(".damaged-20261208-064100")), cut);
    std::optional<RegistryKey> fresh = m_store.OpenKey("software\\kv73");
    ASSERT_TRUE(fresh);
    EXPECT_FALSE(fresh->QueryValue("V0"));
}

// SQLite keeps a -wal and a -shm beside the database while a connection is
// open; whoever closes last removes them, readers too.
TEST_F(StoreFilesTest, ReadingLeavesNoFileBehind) {
    const std::set<std::string> onlyTheStore = {"registry.db"};
    const struct {
        const char* name;
        std::function<void(const RegistryStore&)> read;
    } kReaders[] = {
        {"OpenKey", [](const RegistryStore& s) { EXPECT_TRUE(s.OpenKey("Software\\KV73")); }},
        {"Examine",
         [](const RegistryStore& s) { EXPECT_EQ(s.Examine(), StoreCondition::kReadable); }},
        {"LoadSettingsRecord", [](const RegistryStore& s) { LoadSettingsRecord(s); }},
        {"ReadNotifierSettings", [](const RegistryStore& s) { ReadNotifierSettings(s); }},
    };
    ASSERT_TRUE(Write(m_store));
    ASSERT_EQ(FilesInFolder(), onlyTheStore);
    for (const auto& reader : kReaders) {
        reader.read(RegistryStore(Db()));
        EXPECT_EQ(FilesInFolder(), onlyTheStore) << reader.name;
    }

    // Beside a writer: the reader keeps its snapshot, and whichever of the
    // two closes last cleans up.
    const RegistryStore other(Db());
    RegistryValue previous{REG_SZ, "fresh"};
    for (const bool readerClosesLast : {false, true}) {
        const RegistryValue next{REG_SZ, readerClosesLast ? "third" : "second"};
        std::optional<RegistryKey> writing = m_store.CreateKey("Software\\KV73");
        ASSERT_TRUE(writing && writing->SetValue("Note", next.type, next.data));
        std::optional<RegistryKey> reading = other.OpenKey("Software\\KV73");
        ASSERT_TRUE(reading);
        if (readerClosesLast) {
            ASSERT_TRUE(writing->Close());
        }
        EXPECT_EQ(reading->QueryValue("Note"), previous);
        reading->Close();
        if (!readerClosesLast) {
            ASSERT_TRUE(writing->Close());
        }
        EXPECT_EQ(FilesInFolder(), onlyTheStore) << readerClosesLast;
        EXPECT_EQ(other.OpenKey("Software\\KV73")->QueryValue("Note"), next);
        previous = next;
    }
}

}  // namespace
