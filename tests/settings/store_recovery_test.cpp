#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>

#include "settings/registry_store.h"
#include "settings/store_clock.h"
#include "settings/store_files.h"
#include "temp_folder.h"

namespace {

// Time passes only when the store pauses, by exactly the pause.
class FakeClock final : public StoreClock {
  public:
    TimePoint Now() const override { return m_now; }
    void Pause(std::chrono::milliseconds duration) override {
        m_now += duration;
        ++pauses;
        if (onPause) {
            onPause(pauses);
        }
    }
    int pauses = 0;
    std::function<void(int)> onPause;

  private:
    TimePoint m_now{};
};

enum class Holder {
    kFolderLock,     // a reader's shared folder lock on a damaged store
    kExclusiveLock,  // an exclusive transaction on a sound store in rollback mode
};

struct WaitCase {
    const char* name;
    Holder holder;
    int freedAfterPauses;  // 0: held past the deadline
    bool created;
    int pauses;
};

// A writer waits for what another connection in this process holds, pausing
// 1 ms at a time, and gives up at its 5 ms deadline.
TEST(StoreRecoveryWaits, WriterPausesUntilFreedOrGivesUpAtTheDeadline) {
    const WaitCase cases[] = {
        {"folder lock freed", Holder::kFolderLock, 3, true, 3},
        {"folder lock held", Holder::kFolderLock, 0, false, 5},
        {"store lock freed", Holder::kExclusiveLock, 2, true, 2},
        {"store lock held", Holder::kExclusiveLock, 0, false, 5},
    };
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder temp;
        const std::filesystem::path db = temp.Path() / "wakebell" / "registry.db";
        ASSERT_TRUE(PrepareStoreFolder(db));

        std::optional<StoreFolderLock> folderLock;
        sqlite3* other = nullptr;
        if (c.holder == Holder::kFolderLock) {
            std::ofstream(db) << "not a database";
            folderLock.emplace(db, StoreFolderLock::Mode::kShared,
                               std::chrono::steady_clock::now());
            ASSERT_TRUE(folderLock->IsHeld());
        } else {
            RegistryStore first(db);
            std::optional<RegistryKey> key = first.CreateKey("Software\\Test");
            ASSERT_TRUE(key && key->Close());
            ASSERT_EQ(sqlite3_open(db.c_str(), &other), SQLITE_OK);
            ASSERT_EQ(sqlite3_exec(other, "PRAGMA journal_mode = DELETE; BEGIN EXCLUSIVE", nullptr,
                                   nullptr, nullptr),
                      SQLITE_OK);
        }
        const auto clock = std::make_shared<FakeClock>();
        clock->onPause = [&](int pauses) {
            if (pauses != c.freedAfterPauses) {
                return;
            }
            if (folderLock) {
                folderLock->Release();
            } else {
                sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
            }
        };

        RegistryStore writer(db, StoreOptions{std::chrono::milliseconds(5), {}}, clock);
        std::optional<RegistryKey> key = writer.CreateKey("Software\\Test");
        EXPECT_EQ(key && key->SetValue("Name", REG_SZ, "set") && key->Close(), c.created);
        EXPECT_EQ(clock->pauses, c.pauses);
        sqlite3_close(other);
        folderLock.reset();
        // Nothing was written (nor a damaged store moved aside) by a writer that gave up.
        std::optional<RegistryKey> read = RegistryStore(db).OpenKey("Software\\Test");
        EXPECT_EQ(read && read->QueryValue("Name").has_value(), c.created);
    }
}

}  // namespace
