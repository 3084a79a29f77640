#include "settings/registry_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
