#include "settings/registry_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "temp_folder.h"

namespace {

constexpr std::string_view kKeyPath = "Software\\Test";

class RegistryStoreTest : public ::testing::Test {
  protected:
    std::filesystem::path Db() const { return m_folder.Path() / "wakebell" / "registry.db"; }

    void WriteText(RegistryStore& store, std::string_view name, std::string_view text) {
        std::optional<RegistryKey> key = store.CreateKey(kKeyPath);
        ASSERT_TRUE(key);
        ASSERT_TRUE(key->SetValue(name, REG_SZ, text));
        ASSERT_TRUE(key->Close());
    }

    std::optional<std::string> ReadText(const RegistryStore& store, std::string_view name) {
        std::optional<RegistryKey> key = store.OpenKey(kKeyPath);
        if (!key) {
            return std::nullopt;
        }
        std::optional<RegistryValue> value = key->QueryValue(name);
        return value ? std::optional<std::string>(value->data) : std::nullopt;
    }

    // Waits for a forked child and returns its exit status (-1 if it died).
    static int ExitStatusOf(pid_t child) {
        int status = 0;
        if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
            return -1;
        }
        return WEXITSTATUS(status);
    }

    TempFolder m_folder;
};

TEST_F(RegistryStoreTest, ReadingAMissingStoreCreatesNothing) {
    const RegistryStore store(Db());
    EXPECT_FALSE(store.OpenKey(kKeyPath));
    EXPECT_FALSE(std::filesystem::exists(Db().parent_path()));
}

TEST_F(RegistryStoreTest, NamesIgnoreAsciiCaseOnlyAndPathsKeepRawBytes) {
    RegistryStore store(Db());
    // 0xC4 and 0xE4 differ only by the Latin-1 case bit: they must not meet.
    const std::string path = std::string("Software\\Wa\x8B\xC4");
    std::optional<RegistryKey> key = store.CreateKey(path);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->SetValue("Key1", REG_DWORD, std::string("\x02\0\0\0", 4)));
    EXPECT_TRUE(key->SetValue("KEY1", REG_DWORD, std::string("\x03\0\0\0", 4)));
    ASSERT_TRUE(key->Close());

    std::optional<RegistryKey> found = store.OpenKey(std::string("SOFTWARE\\wA\x8B\xC4"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->QueryValue("key1"), (RegistryValue{REG_DWORD, std::string("\x03\0\0\0", 4)}));
    EXPECT_FALSE(found->QueryValue("key2"));
    EXPECT_FALSE(store.OpenKey(std::string("Software\\Wa\x8B\xE4")));
}

TEST_F(RegistryStoreTest, DataOfAnyLengthAndAnyBytesComesBackUnchanged) {
    RegistryStore store(Db());
    std::string big(100000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i % 251);
    }
    WriteText(store, "Empty", "");
    WriteText(store, "Big", big);
    WriteText(store, "Zeros", std::string("\0a\0", 3));
    EXPECT_EQ(ReadText(store, "Empty"), "");
    EXPECT_EQ(ReadText(store, "Big"), big);
    EXPECT_EQ(ReadText(store, "Zeros"), std::string("\0a\0", 3));
}

TEST_F(RegistryStoreTest, ReadingKeysCannotWriteAndClosedKeysDoNothing) {
    RegistryStore store(Db());
    WriteText(store, "Name", "old");
    std::optional<RegistryKey> reading = store.OpenKey(kKeyPath);
    ASSERT_TRUE(reading);
    EXPECT_FALSE(reading->SetValue("Name", REG_SZ, "new"));
    EXPECT_TRUE(reading->Close());
    EXPECT_FALSE(reading->QueryValue("Name"));
    EXPECT_FALSE(reading->Close());
    EXPECT_EQ(ReadText(store, "Name"), "old");
}

TEST_F(RegistryStoreTest, AbandonedOrCrashedWriterLeavesThePreviousValues) {
    RegistryStore store(Db());
    WriteText(store, "Name", "old");
    {
        std::optional<RegistryKey> abandoned = store.CreateKey(kKeyPath);
        ASSERT_TRUE(abandoned);
        ASSERT_TRUE(abandoned->SetValue("Name", REG_SZ, "half"));
        ASSERT_TRUE(abandoned->SetValue("Other", REG_SZ, "half"));
    }
    EXPECT_EQ(ReadText(store, "Name"), "old");
    EXPECT_FALSE(ReadText(store, "Other"));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegistryStore crashing(Db());
        std::optional<RegistryKey> key = crashing.CreateKey(kKeyPath);
        const bool set = key && key->SetValue("Name", REG_SZ, "crashed");
        _exit(set ? 0 : 1);  // no Close, no destructors: a crash mid-write
    }
    ASSERT_EQ(ExitStatusOf(child), 0);
    EXPECT_EQ(ReadText(store, "Name"), "old");
    WriteText(store, "Name", "after");  // the dead writer's lock is gone
    EXPECT_EQ(ReadText(store, "Name"), "after");
}

TEST_F(RegistryStoreTest, SecondWriterWaitsForTheLockAndFailsAfterItsTimeOut) {
    RegistryStore first(Db());
    RegistryStore second(Db(), StoreOptions{std::chrono::milliseconds(20), {}});
    std::optional<RegistryKey> holding = first.CreateKey(kKeyPath);
    ASSERT_TRUE(holding);
    EXPECT_FALSE(first.CreateKey("Software\\Other"));  // same store: refused at once
    EXPECT_FALSE(second.CreateKey(kKeyPath));
    ASSERT_TRUE(holding->SetValue("Name", REG_SZ, "first"));
    // A reader does not wait for the writer and sees the state before it.
    EXPECT_FALSE(second.OpenKey(kKeyPath));
    ASSERT_TRUE(holding->Close());

    std::optional<RegistryKey> next = second.CreateKey(kKeyPath);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->QueryValue("Name"), (RegistryValue{REG_SZ, "first"}));
}

TEST_F(RegistryStoreTest, ReaderDuringRepeatedWritesNeverSeesAMixedSet) {
    constexpr int kGenerations = 100;
    constexpr int kMaxReads = 200000;
    constexpr const char* kNames[] = {"A", "B", "C", "D", "E", "F", "G", "H"};
    RegistryStore store(Db());
    const auto writeGeneration = [&](int generation) {
        std::optional<RegistryKey> key = store.CreateKey(kKeyPath);
        ASSERT_TRUE(key);
        for (const char* name : kNames) {
            ASSERT_TRUE(key->SetValue(name, REG_SZ, std::to_string(generation)));
        }
        ASSERT_TRUE(key->Close());
    };
    writeGeneration(0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Exit codes: 0 saw the last generation, every read whole; 1 a
        // mixed read; 2 a read failed; 3 never saw the last generation.
        const RegistryStore reader(Db());
        for (int read = 0; read < kMaxReads; ++read) {
            std::optional<RegistryKey> key = reader.OpenKey(kKeyPath);
            if (!key) {
                _exit(2);
            }
            std::optional<RegistryValue> first = key->QueryValue(kNames[0]);
            for (const char* name : kNames) {
                std::optional<RegistryValue> value = key->QueryValue(name);
                if (!first || !value) {
                    _exit(2);
                }
                if (value->data != first->data) {
                    _exit(1);
                }
            }
            if (first->data == std::to_string(kGenerations)) {
                _exit(0);
            }
        }
        _exit(3);
    }
    for (int generation = 1; generation <= kGenerations; ++generation) {
        writeGeneration(generation);
    }
    EXPECT_EQ(ExitStatusOf(child), 0);
}

}  // namespace
