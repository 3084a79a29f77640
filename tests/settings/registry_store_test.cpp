#include "settings/registry_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "temp_folder.h"

namespace {

constexpr std::string_view kPath = "Software\\Test";

class RegistryStoreTest : public ::testing::Test {
  protected:
    std::filesystem::path Db() const { return m_temp.Path() / "wakebell" / "registry.db"; }

    static bool Write(RegistryStore& store, std::string_view name, std::string_view text) {
        std::optional<RegistryKey> key = store.CreateKey(kPath);
        return key && key->SetValue(name, REG_SZ, text) && key->Close();
    }
    static std::optional<RegistryValue> Read(const RegistryStore& store, std::string_view name) {
        std::optional<RegistryKey> key = store.OpenKey(kPath);
        return key ? key->QueryValue(name) : std::nullopt;
    }
    static int ExitStatusOf(pid_t child) {
        int status = 0;
        return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempFolder m_temp;
    RegistryStore m_store{Db()};
};

TEST_F(RegistryStoreTest, NamesIgnoreAsciiCaseOnlyAndPathsAreRawBytes) {
    EXPECT_FALSE(m_store.OpenKey(kPath));
    EXPECT_FALSE(std::filesystem::exists(Db().parent_path()));  // reading creates nothing

    // 0xC4 and 0xE4 differ only by the Latin-1 case bit: they must not meet.
    std::optional<RegistryKey> key = m_store.CreateKey("Software\\Wa\x8B\xC4");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->SetValue("Key1", REG_SZ, "first"));
    EXPECT_TRUE(key->SetValue("KEY1", REG_DWORD, std::string("\x03\0\0\0", 4)));
    EXPECT_TRUE(key->SetValue("Empty", REG_SZ, ""));
    ASSERT_TRUE(key->Close());

    std::optional<RegistryKey> found = m_store.OpenKey("SOFTWARE\\wA\x8B\xC4");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->QueryValue("key1"), (RegistryValue{REG_DWORD, std::string("\x03\0\0\0", 4)}));
    EXPECT_EQ(found->QueryValue("EMPTY"), (RegistryValue{REG_SZ, ""}));
    EXPECT_FALSE(found->QueryValue("Key2"));
    EXPECT_FALSE(m_store.OpenKey("Software\\Wa\x8B\xE4"));
}

TEST_F(RegistryStoreTest, WritesAreAllOrNothingAndOneWriterAtATime) {
    ASSERT_TRUE(Write(m_store, "Name", "old"));
    {
        std::optional<RegistryKey> abandoned = m_store.CreateKey(kPath);
        ASSERT_TRUE(abandoned && abandoned->SetValue("Name", REG_SZ, "half") &&
                    abandoned->SetValue("Other", REG_SZ, "half"));
    }
    EXPECT_EQ(Read(m_store, "Name"), (RegistryValue{REG_SZ, "old"}));
    EXPECT_FALSE(Read(m_store, "Other"));

    // A second writer waits for the first one's key and gives up after its time-out.
    RegistryStore second(Db(), StoreOptions{std::chrono::milliseconds(20), {}});
    std::optional<RegistryKey> holding = m_store.CreateKey(kPath);
    ASSERT_TRUE(holding && holding->SetValue("Name", REG_SZ, "first"));
    EXPECT_FALSE(m_store.CreateKey("Software\\Other"));  // same store: refused at once
    EXPECT_FALSE(second.CreateKey(kPath));
    EXPECT_EQ(Read(second, "Name"), (RegistryValue{REG_SZ, "old"}));  // a reader does not wait
    ASSERT_TRUE(holding->Close());
    EXPECT_TRUE(Write(second, "Name", "second"));
    EXPECT_EQ(Read(m_store, "Name"), (RegistryValue{REG_SZ, "second"}));
}

TEST_F(RegistryStoreTest, ReaderDuringRepeatedWritesNeverSeesAMixedSet) {
    constexpr int kGenerations = 100;
    const auto writeGeneration = [&](int generation) {
        std::optional<RegistryKey> key = m_store.CreateKey(kPath);
        bool all = key.has_value();
        for (const char* name : {"A", "B", "C", "D", "E", "F", "G", "H"}) {
            all = all && key->SetValue(name, REG_SZ, std::to_string(generation));
        }
        return all && key->Close();
    };
    ASSERT_TRUE(writeGeneration(0));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Exits 0 once it has seen the last generation with every read whole.
        const RegistryStore reader(Db());
        for (int read = 0; read < 200000; ++read) {
            std::optional<RegistryKey> key = reader.OpenKey(kPath);
            std::optional<RegistryValue> first = key ? key->QueryValue("A") : std::nullopt;
            for (const char* name : {"B", "C", "D", "E", "F", "G", "H"}) {
                if (!first || key->QueryValue(name) != first) {
                    _exit(1);
                }
            }
            if (first->data == std::to_string(kGenerations)) {
                _exit(0);
            }
        }
        _exit(2);
    }
    for (int generation = 1; generation <= kGenerations; ++generation) {
        EXPECT_TRUE(writeGeneration(generation));
    }
    EXPECT_EQ(ExitStatusOf(child), 0);
}

// Several writer processes creating their keys in one store, all released
// at the same instant, round after round, on a store that does not exist
// yet and on one that is damaged: every writer succeeds, every key it
// committed is in the store, and only the damaged file is moved aside.
TEST(RegistryStoreFirstWriters, StartingTogetherAllSucceedAndKeepTheStore) {
    constexpr int kWriters = 8;
    const auto keyOf = [](int writer) { return "Software\\Writer" + std::to_string(writer); };
    // Memory-backed when there is such a folder: the race is in the locking,
    // and without waiting for the disk a round takes milliseconds.
    std::error_code noShm;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", noShm)
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    // Enough rounds that each start would almost surely fail if writers did
    // not wait for each other and check again before moving a store.
    // Under AddressSanitizer every fork copies a large shadow map, so that
    // build, which looks for other faults, runs a quarter of them.
#ifdef __SANITIZE_ADDRESS__
    constexpr int kShare = 4;
#else
    constexpr int kShare = 1;
#endif
    const struct {
        const char* start;
        std::string contents;  // of the store before the writers start; none when empty
        int rounds;
    } kCases[] = {{"no store", "", 100 / kShare},
                  {"a damaged store", std::string(5000, 'Z'), 30 / kShare}};
    for (const auto& test : kCases) {
        const int expectedAside = test.contents.empty() ? 0 : 1;
        int roundsWithFailedWriter = 0;
        int roundsWithWrongMoves = 0;
        int roundsWithLostKey = 0;
        for (int round = 0; round < test.rounds; ++round) {
            const TempFolder temp(base);
            const std::filesystem::path db = temp.Path() / "wakebell" / "registry.db";
            if (!test.contents.empty()) {
                std::filesystem::create_directories(db.parent_path());
                std::ofstream(db, std::ios::binary) << test.contents;
            }
            int gate[2];
            ASSERT_EQ(pipe(gate), 0);
            std::vector<pid_t> writers;
            for (int w = 0; w < kWriters; ++w) {
                const pid_t child = fork();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    close(gate[1]);
                    char byte = 0;
                    // Blocks until the parent closes its end, then reads end-of-file.
                    const bool released = read(gate[0], &byte, 1) == 0;
                    RegistryStore store(db);
                    std::optional<RegistryKey> key = store.CreateKey(keyOf(w));
                    _exit(released && key && key->SetValue("Number", REG_SZ, std::to_string(w)) &&
                                  key->Close()
                              ? 0
                              : 1);
                }
                writers.push_back(child);
            }
            close(gate[0]);
            close(gate[1]);
            bool failed = false;
            for (const pid_t child : writers) {
                int status = 0;
                failed = waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
                         WEXITSTATUS(status) != 0 || failed;
            }
            int aside = 0;
            for (const auto& entry : std::filesystem::directory_iterator(db.parent_path())) {
                const std::string name = entry.path().filename().string();
                aside += name.find(".damaged-") != std::string::npos && !name.ends_with("-wal") &&
                         !name.ends_with("-shm");
            }
            bool lost = false;
            const RegistryStore reader(db);
            for (int w = 0; w < kWriters; ++w) {
                std::optional<RegistryKey> key = reader.OpenKey(keyOf(w));
                lost = lost || !key ||
                       key->QueryValue("Number") != RegistryValue{REG_SZ, std::to_string(w)};
            }
            roundsWithFailedWriter += failed ? 1 : 0;
            roundsWithWrongMoves += aside != expectedAside ? 1 : 0;
            roundsWithLostKey += lost ? 1 : 0;
        }
        EXPECT_EQ(roundsWithFailedWriter + roundsWithWrongMoves + roundsWithLostKey, 0)
            << "starting from " << test.start << ", of " << test.rounds << " rounds "
            << roundsWithFailedWriter << " had a writer fail, " << roundsWithWrongMoves
            << " moved another number of stores than " << expectedAside << " aside and "
            << roundsWithLostKey << " lost a committed key";
    }
}

}  // namespace
